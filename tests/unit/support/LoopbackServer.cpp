#include "LoopbackServer.h"

#include <chrono>

namespace {

struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};

sockaddr_in loopbackAddress(WORD port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// Every socket of these servers starts here, so Winsock is started here too.
SOCKET listenOnLoopback(WORD& port, int backlog = 8) {
    static WinsockSession winsock;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopbackAddress(0);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(s, backlog);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return s;
}

// The same on ::1; INVALID_SOCKET where the machine has no IPv6 loopback.
SOCKET listenOnLoopbackV6(WORD& port) {
    static WinsockSession winsock;
    SOCKET s = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in6 address = {};
    address.sin6_family = AF_INET6;
    address.sin6_addr.s6_addr[15] = 1; // ::1
    int length = sizeof address;
    if (s == INVALID_SOCKET ||
        bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        listen(s, 8) == SOCKET_ERROR ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) {
        if (s != INVALID_SOCKET) {
            closesocket(s);
        }
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin6_port);
    return s;
}

bool readable(SOCKET s, int milliseconds) {
    WSAPOLLFD entry = {};
    entry.fd = s;
    entry.events = POLLIN;
    return WSAPoll(&entry, 1, milliseconds) > 0;
}

// Whether a query has come whole: a whois query ends with its line feed, an
// HTTP request (of the transport's tests) with its blank line.
bool queryComplete(const std::string& query) {
    if (query.compare(0, 4, "GET ") == 0) {
        return query.find("\r\n\r\n") != std::string::npos;
    }
    return query.find('\n') != std::string::npos;
}

} // namespace

LoopbackServer::LoopbackServer(Action scriptedAction, std::string scriptedReply, bool ipv6)
    : action(scriptedAction), reply(std::move(scriptedReply)) {
    listener = ipv6 ? listenOnLoopbackV6(port) : listenOnLoopback(port);
    if (Listening()) {
        thread = std::thread([this] { Serve(); });
    }
}

LoopbackServer::~LoopbackServer() {
    stopping = true;
    if (thread.joinable()) {
        thread.join();
        closesocket(listener);
    }
}

std::vector<std::string> LoopbackServer::Received() {
    std::lock_guard<std::mutex> guard(lock);
    return received;
}

void LoopbackServer::SetReply(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    reply = text;
}

void LoopbackServer::WaitForConnection() {
    while (Received().empty()) {
        Sleep(5);
    }
}

WORD LoopbackServer::UnusedPort() {
    WORD port = 0;
    closesocket(listenOnLoopback(port));
    return port;
}

bool LoopbackServer::WaitForStop(DWORD milliseconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopping && std::chrono::steady_clock::now() < until) {
        Sleep(5);
    }
    return stopping;
}

void LoopbackServer::Serve() {
    while (!stopping) {
        if (!readable(listener, 20)) {
            continue;
        }
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client != INVALID_SOCKET) {
            Answer(client);
        }
    }
}

// Reads up to the query's end; a client that sends nothing is given a
// moment, then its empty query is recorded as such.
std::string LoopbackServer::ReadQuery(SOCKET client) {
    std::string query;
    while (!queryComplete(query) && readable(client, 300)) {
        char chunk[512];
        int got = recv(client, chunk, int(sizeof chunk), 0);
        if (got <= 0) {
            break;
        }
        query.append(chunk, size_t(got));
    }
    return query;
}

void LoopbackServer::Answer(SOCKET client) {
    std::string query = ReadQuery(client);
    std::string reply;
    {
        std::lock_guard<std::mutex> guard(lock);
        received.push_back(query);
        reply = this->reply;
    }
    switch (action) {
    case Action::Reply:
    case Action::ResetAfterReply:
        send(client, reply.data(), int(reply.size()), 0);
        break;
    case Action::Drip:
        for (char c : reply) {
            send(client, &c, 1, 0);
            if (WaitForStop(10)) {
                break;
            }
        }
        break;
    case Action::Silent:
        while (!stopping) {
            char probe;
            if (readable(client, 20) && recv(client, &probe, 1, 0) <= 0) {
                break; // the client went away
            }
        }
        break;
    case Action::CloseAtOnce:
        break;
    }
    if (action == Action::ResetAfterReply) {
        Sleep(50); // let the reply reach the client before the reset
        linger hard = {1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                   sizeof hard);
    }
    closesocket(client);
}

FullListener::FullListener() {
    listener = listenOnLoopback(port, 0);
    sockaddr_in address = loopbackAddress(port);
    // Fill the queue: each of these completes into it, or is already left
    // waiting; either way, the next one finds no room.
    for (int i = 0; i < 4; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        queued.push_back(s);
    }
    Sleep(50);
}

FullListener::~FullListener() {
    for (SOCKET s : queued) {
        closesocket(s);
    }
    closesocket(listener);
}
