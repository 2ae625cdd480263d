#include "protocol/WhoisRequest.h"

#include "protocol/InternationalUrl.h"
#include "protocol/ResultPage.h"
#include "support/ModuleLock.h"

#include <cassert>
#include <new>

WhoisRequest::WhoisRequest(IInternetProtocolSink* hostSink, LPCWSTR wideUrl)
    : WorkerThread(nullptr), sink(hostSink), stream(nullptr), port(DefaultWhoisPort), parsedOk(0),
      simpleShape(false), rdapAsked(false), urlCopied(false), answeredSocket(INVALID_SOCKET),
      lifecycle(Idle), complete(false), connectTimeout(ConnectTimeout),
      receiveTimeout(ReceiveTimeout) {
    InitializeCriticalSection(&reportLock);
    if (sink != nullptr) {
        sink->AddRef();
    }
    LPWSTR asciiUrl = AsciiFormOfUrl(wideUrl);
    url.AssignWide(asciiUrl != nullptr ? asciiUrl : wideUrl);
    delete[] asciiUrl;
    urlCopied = wideUrl == nullptr || url.GetText() != nullptr;
    server.Assign("");
    query.Assign("");
    stream = new (std::nothrow) SocketStream();
    settings.Read();
    connectTimeout = settings.connectTimeout;
    receiveTimeout = settings.receiveTimeout;
}

WhoisRequest::~WhoisRequest() {
    if (sink != nullptr) {
        sink->Release();
        sink = nullptr;
    }
    delete stream;
    stream = nullptr;
    DeleteCriticalSection(&reportLock);
}

void WhoisRequest::SetTimeouts(DWORD connectMilliseconds, DWORD receiveMilliseconds) {
    connectTimeout = connectMilliseconds;
    receiveTimeout = receiveMilliseconds;
}

LONG WhoisRequest::Parse() {
    RequestStatus status = ParseWhoisUrl(url, server, port, query, &simpleShape);
    if (status == StatusOk && simpleShape) {
        server.Assign(settings.defaultServer.GetText());
        port = settings.defaultPort;
    }
    return EndParse(status);
}

LONG WhoisRequest::EndParse(RequestStatus status) {
    parsedOk = status == StatusOk ? 1 : 0;
    ReportStatus(status);
    return parsedOk;
}

RequestStatus WhoisRequest::ReportStatus(RequestStatus status) {
    if (status == StatusOk) {
        return StatusOk;
    }
    // A failure without lines of its own still shows as one, not as an
    // empty reply.
    RequestStatus shown = StatusLinesLength(status) != 0 ? status : StatusUnknownError;
    AppendStatusLines(*stream->GetIncoming(), shown);
    if (!failedServerLine.IsEmpty()) {
        stream->GetIncoming()->AppendLine(failedServerLine.GetText());
    }
    CompleteReply();
    return status;
}

void WhoisRequest::CompleteReply() {
    MarkComplete();
    if (!StopRequested(0)) {
        ReportCompletion();
    }
}

void WhoisRequest::ReportCompletion() {
    // Under the lock, so that a request cut loose at the same moment either
    // reports before it lets go of the sink, or not at all.
    EnterCriticalSection(&reportLock);
    if (sink != nullptr) {
        sink->ReportData(BSCF_DATAFULLYAVAILABLE, 1, 1);
        sink->ReportResult(S_OK, 0, nullptr);
    }
    LeaveCriticalSection(&reportLock);
}

void WhoisRequest::ReportMimeType() {
    if (sink != nullptr) {
        sink->ReportProgress(BINDSTATUS_MIMETYPEAVAILABLE, WIDE_TEXT("text/html"));
    }
}

LONG WhoisRequest::Start() {
    assert(parsedOk && lifecycle.load() == Idle);
    lifecycle.store(Running);
    if (Create(0)) {
        return 1;
    }
    lifecycle.store(Idle);
    return 0;
}

bool WhoisRequest::SwitchLifecycle(Lifecycle from, Lifecycle to) {
    LONG expected = from;
    return lifecycle.compare_exchange_strong(expected, to);
}

bool WhoisRequest::IsUsable() const {
    return stream != nullptr && stream->IsOk() && urlCopied && CanBeStopped();
}

bool WhoisRequest::IsComplete() const {
    return complete.load(std::memory_order_acquire);
}

void WhoisRequest::Discard(WhoisRequest* request) {
    if (request == nullptr) {
        return;
    }
    // Everything that touches the request is done before it is handed to its
    // thread: once it is Abandoned the thread may delete it at any moment.
    EnterCriticalSection(&request->reportLock);
    if (request->sink != nullptr) {
        request->sink->Release();
        request->sink = nullptr;
    }
    LeaveCriticalSection(&request->reportLock);
    request->RequestStop();
    // The thread runs the library's code until it ends.
    LockModule();
    if (request->SwitchLifecycle(Running, Abandoned)) {
        return;
    }
    UnlockModule();
    delete request; // never started, or finished: its destructor waits out the last instructions
}

void WhoisRequest::EndRun() {
    if (SwitchLifecycle(Running, Finished) || lifecycle.load() != Abandoned) {
        return;
    }
    // Cut loose: nobody else holds the request any more.
    assert(sink == nullptr && "a request is let go of its sink before it is cut loose");
    CloseThreadHandle();
    delete this;
    UnlockModule();
}

DWORD WhoisRequest::Run() {
    RequestStatus status = Exchange();
    EndRun();
    return DWORD(status);
}
