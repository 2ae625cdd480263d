// The network side of a request: on its worker thread, ask the whois server
// and collect the reply.
#include "protocol/ResultPage.h"
#include "protocol/WhoisRequest.h"

namespace {

// addrinfo's list, freed when the exchange is done with it.
class ResolvedAddresses {
public:
    explicit ResolvedAddresses(const char* host) {
        addrinfo hints = {};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        if (host == nullptr || getaddrinfo(host, nullptr, &hints, &list) != 0) {
            list = nullptr;
        }
    }
    ~ResolvedAddresses() {
        if (list != nullptr) {
            freeaddrinfo(list);
        }
    }
    ResolvedAddresses(const ResolvedAddresses&) = delete;
    ResolvedAddresses& operator=(const ResolvedAddresses&) = delete;
    const addrinfo* First() const { return list; }

private:
    addrinfo* list = nullptr;
};

bool setBlocking(SOCKET s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) != SOCKET_ERROR;
}

DWORD elapsedSince(DWORD start) {
    return GetTickCount() - start;
}

} // namespace

RequestStatus WhoisRequest::Exchange() {
    if (!parsedOk) {
        return StatusSyntaxError;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        return ReportStatus(StatusWinsockFailed);
    }
    bool stopped = false;
    RequestStatus status = Converse(stopped);
    WSACleanup();
    if (stopped) {
        MarkComplete();
        return StatusOk;
    }
    if (stream->WasCut()) {
        AppendCutNotice(*stream->GetIncoming());
    }
    if (status != StatusOk) {
        return ReportStatus(status);
    }
    CompleteReply();
    return StatusOk;
}

// Resolve, connect, send the query, receive the reply. The socket it opens
// is closed before it returns.
RequestStatus WhoisRequest::Converse(bool& stopped) {
    // getaddrinfo, not gethostbyname: the latter's result lives in a buffer
    // shared by every thread of the process.
    ResolvedAddresses addresses(server.GetText());
    if (addresses.First() == nullptr) {
        return StatusDnsError;
    }
    SOCKET s = INVALID_SOCKET;
    RequestStatus status = StatusConnectFailed;
    for (const addrinfo* address = addresses.First(); address != nullptr;
         address = address->ai_next) {
        status = ConnectToServer(address, s, stopped);
        if (status == StatusOk || status == StatusSocketError || stopped) {
            break;
        }
    }
    if (status != StatusOk || stopped) {
        return stopped ? StatusOk : status;
    }
    // Connect has given the stream its socket, to wait on it.
    if (stream->IsOk()) {
        stream->SendLine(query.GetText());
    }
    if (stream->IsOk()) {
        status = ReceiveReply(stopped);
    } else {
        status = StatusSocketError;
    }
    closesocket(s);
    return status;
}

// Tries one address: StatusOk with `connected` set, or the failure's status
// with nothing left open.
RequestStatus WhoisRequest::ConnectToServer(const addrinfo* address, SOCKET& connected,
                                            bool& stopped) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return StatusSocketError;
    }
    sockaddr_in target = *reinterpret_cast<const sockaddr_in*>(address->ai_addr);
    target.sin_port = htons(WORD(port & 0xFFFF));
    if (Connect(s, &target, sizeof target, stopped) != SocketWaitReady) {
        closesocket(s);
        return StatusConnectFailed;
    }
    connected = s;
    return StatusOk;
}

// Connects without blocking past the connect time-out or a stop request.
SocketWait WhoisRequest::Connect(SOCKET s, const sockaddr_in* target, int length, bool& stopped) {
    if (!setBlocking(s, false)) {
        return SocketWaitFailed;
    }
    if (connect(s, reinterpret_cast<const sockaddr*>(target), length) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        return SocketWaitFailed;
    }
    // The stream waits on the socket, and keeps it for the exchange.
    stream->SetSocket(s);
    DWORD start = GetTickCount();
    SocketWait ready = SocketWaitTimedOut;
    while (ready == SocketWaitTimedOut) {
        if (StopRequested(0)) {
            stopped = true;
            return SocketWaitFailed;
        }
        if (elapsedSince(start) >= connectTimeout) {
            return SocketWaitTimedOut;
        }
        ready = stream->WaitUntilReady(true, WaitSlice);
    }
    int error = 0;
    int size = sizeof error;
    if (ready != SocketWaitReady ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
        error != 0) {
        return SocketWaitFailed;
    }
    return setBlocking(s, true) ? SocketWaitReady : SocketWaitFailed;
}

// Receives until the server closes the connection, a receive fails, the
// server stays silent past the receive time-out, or a stop is asked for.
RequestStatus WhoisRequest::ReceiveReply(bool& stopped) {
    DWORD lastData = GetTickCount();
    for (;;) {
        SocketWait ready = stream->WaitUntilReady(false, WaitSlice);
        if (ready == SocketWaitFailed) {
            stream->SetFailed();
            break;
        }
        if (ready == SocketWaitTimedOut) {
            if (StopRequested(0)) {
                stopped = true;
                return StatusOk;
            }
            if (elapsedSince(lastData) >= receiveTimeout) {
                stream->SetFailed();
                break;
            }
            continue;
        }
        if (!stream->ReceiveChunk()) {
            break;
        }
        lastData = GetTickCount();
        if (StopRequested(0)) {
            stopped = true;
            return StatusOk;
        }
    }
    return stream->IsOk() ? StatusOk : StatusSocketError;
}
