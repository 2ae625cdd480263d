#include "protocol/LocalFileProtocol.h"

#include "protocol/ResultPage.h"
#include "support/ModuleLock.h"

#include <new>

HRESULT CreateProtocolObject(IUnknown* outer, REFIID iid, void** out) {
    return LocalFileProtocol::Create(outer, iid, out);
}

HRESULT LocalFileProtocol::Create(IUnknown* outer, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    auto* object = new (std::nothrow) LocalFileProtocol(outer);
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT result =
        outer != nullptr ? object->inner.QueryInterface(iid, out) : object->QueryPlain(iid, out);
    if (FAILED(result)) {
        delete object;
    }
    return result;
}

LocalFileProtocol::LocalFileProtocol(IUnknown* controllingUnknown)
    : refCount(0), request(nullptr), replyTaken(false), outer(controllingUnknown), inner(this) {
    LockModule();
}

LocalFileProtocol::~LocalFileProtocol() {
    page.Close(); // it may show the request's reply
    // A request still running is cut loose, never ended by force.
    WhoisRequest::Discard(request);
    request = nullptr;
    UnlockModule();
}

// --- IUnknown -----------------------------------------------------------------------

HRESULT LocalFileProtocol::QueryOwnInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_ILocalFileProtocol)) {
        *out = static_cast<ILocalFileProtocol*>(this);
    } else if (IsEqualIID(iid, IID_IInternetProtocol) ||
               IsEqualIID(iid, IID_IInternetProtocolRoot)) {
        *out = static_cast<IInternetProtocol*>(this);
    } else {
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*out)->AddRef();
    return S_OK;
}

HRESULT LocalFileProtocol::QueryPlain(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        return QueryOwnInterface(IID_ILocalFileProtocol, out);
    }
    return QueryOwnInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::QueryInterface(REFIID iid, void** out) {
    if (outer == nullptr) {
        return QueryPlain(iid, out);
    }
    HRESULT result = outer->QueryInterface(iid, out);
    if (FAILED(result) && out != nullptr) {
        result = QueryOwnInterface(iid, out);
    }
    return result;
}

ULONG STDMETHODCALLTYPE LocalFileProtocol::AddRef() {
    return outer != nullptr ? outer->AddRef() : ULONG(++refCount);
}

ULONG STDMETHODCALLTYPE LocalFileProtocol::Release() {
    if (outer != nullptr) {
        return outer->Release();
    }
    if (--refCount == 0) {
        delete this;
        return 0;
    }
    return ULONG(refCount);
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::InnerUnknown::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        AddRef();
        *out = static_cast<IUnknown*>(this);
        return S_OK;
    }
    return owner->QueryOwnInterface(iid, out);
}

ULONG STDMETHODCALLTYPE LocalFileProtocol::InnerUnknown::AddRef() {
    return ULONG(++refCount);
}

ULONG STDMETHODCALLTYPE LocalFileProtocol::InnerUnknown::Release() {
    if (--refCount == 0) {
        delete owner;
        return 0;
    }
    return ULONG(refCount);
}

// --- the protocol ---------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE LocalFileProtocol::Start(LPCWSTR url, IInternetProtocolSink* sink,
                                                   IInternetBindInfo*, DWORD, HANDLE_PTR) {
    page.Close(); // it may show the reply of the request let go of here
    replyTaken = false;
    WhoisRequest::Discard(request);
    request = new (std::nothrow) WhoisRequest(sink, url);
    if (request == nullptr || !request->IsUsable()) {
        // Without a request whose stream has its buffers there is nowhere to
        // write a page and nothing to report completion, and without its URL
        // or stop event it would ask the wrong thing or never stop: say so
        // rather than leave the host waiting for a report that never comes.
        delete request;
        request = nullptr;
        return E_OUTOFMEMORY;
    }
    request->ReportMimeType();
    if (request->Parse() && !request->Start()) {
        // No worker thread: the request was never sent. That is what the
        // "not processed" lines say, and the host still gets its completion.
        request->ReportStatus(StatusNotProcessed);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::Continue(PROTOCOLDATA*) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::Abort(HRESULT, DWORD) {
    if (request != nullptr) {
        request->Stop(0);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::Terminate(DWORD) {
    return S_OK;
}
HRESULT STDMETHODCALLTYPE LocalFileProtocol::Suspend() {
    return S_OK;
}
HRESULT STDMETHODCALLTYPE LocalFileProtocol::Resume() {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::Read(void* buffer, ULONG size, ULONG* count) {
    ULONG copied = page.Read(buffer, size);
    if (count != nullptr) {
        *count = copied;
    }
    return copied > 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) {
    return E_FAIL;
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::LockRequest(DWORD) {
    page.Close();
    // The reply is read only once the worker has finished writing it: a host
    // that locks early gets no page rather than a torn one. The page shows
    // the reply where it lies, and shows it once: a later lock finds it
    // drained, as a reply moved into a page of its own would be.
    if (request != nullptr && request->IsComplete()) {
        const ByteBuffer& reply = *request->GetStream()->GetIncoming();
        page.Open(replyTaken ? nullptr : reply.GetData(), reply.GetLength());
        replyTaken = true;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE LocalFileProtocol::UnlockRequest() {
    page.Close();
    return S_OK;
}
