// The network side of a request: on its worker thread, ask the whois server
// and collect the reply.
#include "protocol/Referral.h"
#include "protocol/ResultPage.h"
#include "protocol/WhoisRequest.h"
#include "protocol/ZoneMemory.h"

#include <cstdio>
#include <cstring>

namespace {

// The addresses of a server: an address written out as it is, or
// getaddrinfo's list, freed when the exchange is done with it.
class ResolvedAddresses {
public:
    explicit ResolvedAddresses(const char* host) {
        if (host == nullptr || TakeLiteral(host)) {
            return;
        }
        addrinfo hints = {};
        hints.ai_family = AF_UNSPEC; // IPv6 and IPv4 alike, in the resolver's order
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        if (getaddrinfo(host, nullptr, &hints, &list) != 0) {
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
    const addrinfo* First() const { return literal.ai_addr != nullptr ? &literal : list; }

private:
    // An IPv4 or IPv6 address in its usual text form is the one address
    // there is: the resolver's work (and the memory it sets up in each
    // thread that first calls it) is not needed. Anything else, such as a
    // scoped IPv6 address, is the resolver's.
    bool TakeLiteral(const char* host) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&literalAddress);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&literalAddress);
        if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            literal.ai_addrlen = sizeof *v4;
        } else if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            literal.ai_addrlen = sizeof *v6;
        } else {
            return false;
        }
        literal.ai_family = literalAddress.ss_family;
        literal.ai_socktype = SOCK_STREAM;
        literal.ai_protocol = IPPROTO_TCP;
        literal.ai_addr = reinterpret_cast<sockaddr*>(&literalAddress);
        return true;
    }

    addrinfo* list = nullptr;
    addrinfo literal = {};
    sockaddr_storage literalAddress = {};
};

bool makeNonBlocking(SOCKET s) {
    u_long nonBlocking = 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) != SOCKET_ERROR;
}

DWORD elapsedSince(DWORD start) {
    return GetTickCount() - start;
}

// The most servers one chain asks: the default server, the registry, the
// registrar, and one more for a registry that refers twice.
const DWORD MaxChainServers = 4;

bool sameHost(LPCSTR one, LPCSTR other) {
    for (; *one != '\0' && *other != '\0'; ++one, ++other) {
        char a = *one >= 'A' && *one <= 'Z' ? char(*one - 'A' + 'a') : *one;
        char b = *other >= 'A' && *other <= 'Z' ? char(*other - 'A' + 'a') : *other;
        if (a != b) {
            return false;
        }
    }
    return *one == *other;
}

// The servers a chain has asked, so that none is asked twice.
class AskedServers {
public:
    bool Contains(LPCSTR host, DWORD port) const {
        for (DWORD i = 0; i < count; ++i) {
            if (ports[i] == port && sameHost(names[i], host)) {
                return true;
            }
        }
        return false;
    }
    void Add(LPCSTR host, DWORD port) {
        if (count < MaxChainServers &&
            lstrcpynA(names[count], host, int(sizeof names[count])) != nullptr) {
            ports[count++] = port;
        }
    }
    DWORD Count() const { return count; }

private:
    char names[MaxChainServers][MaxServerNameLength + 1] = {};
    DWORD ports[MaxChainServers] = {};
    DWORD count = 0;
};

// A system line naming a server: `before`, host:port escaped, `after`.
// Empty when the address does not fit, which a validated one always does.
void formatServerLine(LPCSTR before, LPCSTR host, DWORD port, LPCSTR after, TextString& line) {
    char address[MaxServerNameLength + 16];
    char escaped[sizeof address * 5];
    if (!FormatServerAddress(host, port, address, sizeof address)) {
        line.Assign("");
        return;
    }
    escaped[EscapeHtml(address, DWORD(lstrlenA(address)), escaped)] = '\0';
    char text[sizeof escaped + 128];
    std::snprintf(text, sizeof text, "%s%s%s", before, escaped, after);
    line.Assign(text);
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
    RequestStatus status =
        FollowsReferrals() ? AskChain(stopped) : Converse(server.GetText(), port, stopped);
    status = Report(status, stopped);
    // The last connection is closed once the host has its report: closing
    // it takes microseconds the host need not wait for.
    CloseAnsweredSocket();
    WSACleanup();
    return status;
}

RequestStatus WhoisRequest::Report(RequestStatus status, bool stopped) {
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

void WhoisRequest::CloseAnsweredSocket() {
    if (answeredSocket != INVALID_SOCKET) {
        closesocket(answeredSocket);
        answeredSocket = INVALID_SOCKET;
    }
}

bool WhoisRequest::FollowsReferrals() const {
    return simpleShape && settings.followReferrals;
}

// Asks the default server, then each server a reply refers to, until a
// reply refers nowhere new, a server fails, the page is full or four have
// been asked. Every reply follows a line that names its server. Where the
// default server once referred this query's zone, the chain starts at the
// server it named; when that server cannot be reached any more, it is
// forgotten and the chain starts again at the default server.
//
// RDAP takes over where port 43 gives no answer: when the default server's
// reply names no server, or a server cannot be resolved or connected. With
// PreferRdap it is asked first, and port 43 only when it gives no answer.
RequestStatus WhoisRequest::AskChain(bool& stopped) {
    if (settings.preferRdap && (AskRdap(StatusOk, stopped) == RdapAnswered || stopped)) {
        return StatusOk;
    }
    ZoneMemory& memory = ZoneMemory::Shared();
    char zone[MaxZoneLength + 1];
    bool hasZone = ZoneOfQuery(query.GetText(), zone);
    AskedServers asked;
    TextString host(server.GetText());
    DWORD hostPort = port;
    bool fromMemory = hasZone && memory.Recall(server.GetText(), port, zone, host, hostPort);
    bool rememberIfReached = false;
    for (;;) {
        DWORD replyStart = stream->GetIncoming()->GetLength();
        RequestStatus status = Converse(host.GetText(), hostPort, stopped);
        if (stopped) {
            return StatusOk;
        }
        if (fromMemory && (status == StatusDnsError || status == StatusConnectFailed)) {
            memory.Forget(server.GetText(), port, zone);
            fromMemory = false;
            host.Assign(server.GetText());
            hostPort = port;
            continue;
        }
        fromMemory = false;
        if (status != StatusOk) {
            formatServerLine("<p><I>The server that failed: ", host.GetText(), hostPort, "</I></p>",
                             failedServerLine);
            bool unreachable = status == StatusDnsError || status == StatusConnectFailed;
            if (unreachable && AskRdap(status, stopped) != RdapNotAsked) {
                return StatusOk;
            }
            return status;
        }
        if (rememberIfReached) {
            memory.Remember(server.GetText(), port, zone, host.GetText(), hostPort);
            rememberIfReached = false;
        }
        asked.Add(host.GetText(), hostPort);
        if (asked.Count() == MaxChainServers || stream->WasCut() || StopRequested(0)) {
            return StatusOk;
        }
        const ByteBuffer& reply = *stream->GetIncoming();
        TextString next;
        DWORD nextPort = DefaultWhoisPort;
        bool fromDefault = asked.Count() == 1 && asked.Contains(server.GetText(), port);
        if (!FindReferral(reinterpret_cast<const char*>(reply.GetData()) + replyStart,
                          reply.GetLength() - replyStart, next, nextPort)) {
            if (fromDefault) {
                AskRdap(StatusOk, stopped);
            }
            return StatusOk;
        }
        if (asked.Contains(next.GetText(), nextPort)) {
            return StatusOk;
        }
        // The default server's referral is remembered once its server answers.
        rememberIfReached = hasZone && fromDefault;
        host.Assign(next.GetText());
        hostPort = nextPort;
    }
}

// Resolve, connect, send the query, receive the reply. The socket it opens
// is closed when the next server is asked or the request has reported. In a
// chain, the reply follows a line naming its server.
RequestStatus WhoisRequest::Converse(LPCSTR host, DWORD serverPort, bool& stopped) {
    // getaddrinfo, not gethostbyname: the latter's result lives in a buffer
    // shared by every thread of the process.
    ResolvedAddresses addresses(host);
    if (addresses.First() == nullptr) {
        return StatusDnsError;
    }
    SOCKET s = INVALID_SOCKET;
    RequestStatus status = StatusConnectFailed;
    for (const addrinfo* address = addresses.First(); address != nullptr;
         address = address->ai_next) {
        status = ConnectToServer(address, serverPort, s, stopped);
        if (status == StatusOk || status == StatusSocketError || stopped) {
            break;
        }
    }
    if (status != StatusOk || stopped) {
        return stopped ? StatusOk : status;
    }
    if (FollowsReferrals()) {
        TextString line;
        formatServerLine("<B>Reply from ", host, serverPort, "</B>", line);
        stream->KeepLine(line.GetText());
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
    // Left open until the next server is asked or the request has reported.
    CloseAnsweredSocket();
    answeredSocket = s;
    return status;
}

// Tries one address: StatusOk with `connected` set, or the failure's status
// with nothing left open.
RequestStatus WhoisRequest::ConnectToServer(const addrinfo* address, DWORD serverPort,
                                            SOCKET& connected, bool& stopped) {
    sockaddr_storage target = {};
    if (address->ai_addrlen > sizeof target ||
        (address->ai_family != AF_INET && address->ai_family != AF_INET6)) {
        return StatusConnectFailed; // an address of no family this system speaks
    }
    std::memcpy(&target, address->ai_addr, address->ai_addrlen);
    // The port is taken as today: its low 16 bits.
    u_short networkPort = htons(WORD(serverPort & 0xFFFF));
    if (address->ai_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = networkPort;
    } else {
        reinterpret_cast<sockaddr_in*>(&target)->sin_port = networkPort;
    }
    SOCKET s = socket(address->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return StatusSocketError;
    }
    if (Connect(s, reinterpret_cast<const sockaddr*>(&target), int(address->ai_addrlen), stopped) !=
        SocketWaitReady) {
        closesocket(s);
        return StatusConnectFailed;
    }
    connected = s;
    return StatusOk;
}

// Connects without blocking past the connect time-out or a stop request.
SocketWait WhoisRequest::Connect(SOCKET s, const sockaddr* target, int length, bool& stopped) {
    if (!makeNonBlocking(s)) {
        return SocketWaitFailed;
    }
    if (connect(s, target, length) == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
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
    // The socket stays non-blocking: the reply is received as it comes, and
    // waited for only when nothing has come yet.
    return SocketWaitReady;
}

// Receives until the server closes the connection, a receive fails, the
// server stays silent past the receive time-out, or a stop is asked for.
// What has come is taken at once; when nothing has, the thread sleeps on
// the socket. (Asking the socket again and again for a while instead saved
// a wake-up when the server was on the same machine, but it hid a free
// processor from the scheduler: on a busy machine the server's own thread
// then waited longer, and a request took twice as long.)
RequestStatus WhoisRequest::ReceiveReply(bool& stopped) {
    DWORD lastData = GetTickCount();
    for (;;) {
        LONG received = stream->ReceiveChunk();
        if (received == 0) {
            break;
        }
        if (received > 0) {
            lastData = GetTickCount();
        } else {
            SocketWait ready = stream->WaitUntilReady(false, WaitSlice);
            if (ready == SocketWaitFailed ||
                (ready == SocketWaitTimedOut && elapsedSince(lastData) >= receiveTimeout)) {
                stream->SetFailed();
                break;
            }
        }
        if (StopRequested(0)) {
            stopped = true;
            return StatusOk;
        }
    }
    return stream->IsOk() ? StatusOk : StatusSocketError;
}
