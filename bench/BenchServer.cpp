#include "bench/BenchServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char NoMatchReply[] = "no match\r\n";

enum class Phase { Reading, Waiting, Writing };

struct Connection {
    explicit Connection(int accepted) : socket(accepted) {}
    int socket;
    Phase phase = Phase::Reading;
    std::string query;
    const std::string* reply = nullptr;
    size_t sent = 0;
    Clock::time_point due;
};

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

std::string trimmed(const std::string& line) {
    size_t end = line.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

// Reads what has come; true while the connection is still wanted.
bool readQuery(Connection& connection, const std::map<std::string, std::string>& replies,
               int delayMs) {
    char bytes[512];
    ssize_t got = recv(connection.socket, bytes, sizeof bytes, 0);
    if (got <= 0) {
        return got < 0 && wouldBlock();
    }
    connection.query.append(bytes, size_t(got));
    size_t end = connection.query.find('\n');
    if (end == std::string::npos) {
        return true;
    }
    static const std::string noMatch = NoMatchReply;
    auto found = replies.find(trimmed(connection.query.substr(0, end)));
    connection.reply = found != replies.end() ? &found->second : &noMatch;
    connection.phase = Phase::Waiting;
    connection.due = Clock::now() + std::chrono::milliseconds(delayMs);
    return true;
}

// Writes what the socket takes; false once the reply is out or the client gone.
bool writeReply(Connection& connection) {
    const std::string& reply = *connection.reply;
    while (connection.sent < reply.size()) {
        ssize_t sent = send(connection.socket, reply.data() + connection.sent,
                            reply.size() - connection.sent, MSG_NOSIGNAL);
        if (sent < 0) {
            return wouldBlock();
        }
        connection.sent += size_t(sent);
    }
    return false;
}

// Whether the connection is still wanted after its events.
bool serveConnection(Connection& connection, short events,
                     const std::map<std::string, std::string>& replies, int delayMs) {
    if (connection.phase == Phase::Reading && (events & (POLLIN | POLLHUP | POLLERR)) != 0 &&
        !readQuery(connection, replies, delayMs)) {
        return false;
    }
    if (connection.phase == Phase::Waiting && Clock::now() >= connection.due) {
        connection.phase = Phase::Writing;
    }
    if (connection.phase == Phase::Writing) {
        return writeReply(connection);
    }
    return true;
}

int millisecondsUntil(Clock::time_point due) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    return int(std::max<long long>(0, left));
}

} // namespace

BenchServer::BenchServer(int delay) : delayMs(delay) {}

BenchServer::~BenchServer() {
    Stop();
}

void BenchServer::SetReply(const std::string& query, const std::string& reply) {
    replies[query] = reply;
}

bool BenchServer::Start(std::string& error) {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener, 1024) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        pipe(stopPipe) != 0) {
        error = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        return false;
    }
    port = ntohs(address.sin_port);
    thread = std::thread([this] { Serve(); });
    return true;
}

void BenchServer::Stop() {
    if (thread.joinable()) {
        (void)!write(stopPipe[1], "x", 1);
        thread.join();
    }
    for (int* descriptor : {&listener, &stopPipe[0], &stopPipe[1]}) {
        if (*descriptor >= 0) {
            close(*descriptor);
            *descriptor = -1;
        }
    }
}

void BenchServer::Serve() {
    std::vector<Connection> connections;
    std::vector<pollfd> watched;
    for (;;) {
        watched.assign({{stopPipe[0], POLLIN, 0}, {listener, POLLIN, 0}});
        int timeout = -1;
        for (const Connection& connection : connections) {
            short events = connection.phase == Phase::Reading   ? POLLIN
                           : connection.phase == Phase::Writing ? POLLOUT
                                                                : 0;
            if (connection.phase == Phase::Waiting) {
                int left = millisecondsUntil(connection.due);
                timeout = timeout < 0 ? left : std::min(timeout, left);
            }
            watched.push_back({connection.socket, events, 0});
        }
        if (poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) {
            return;
        }
        if (watched[0].revents != 0) {
            break;
        }
        // Served before the new ones are added: `watched` lines up with them.
        for (size_t i = connections.size(); i-- > 0;) {
            if (!serveConnection(connections[i], watched[i + 2].revents, replies, delayMs)) {
                close(connections[i].socket);
                connections[i] = std::move(connections.back());
                connections.pop_back();
            }
        }
        for (int client; (client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
            ++accepted;
            connections.emplace_back(client);
        }
    }
    for (const Connection& connection : connections) {
        close(connection.socket);
    }
}

long PlainExchange(uint16_t port, const std::string& query) {
    int client = socket(AF_INET, SOCK_STREAM, 0);
    if (client < 0) {
        return -1;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string line = query + "\n";
    long total = -1;
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(client, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size())) {
        char bytes[16384];
        ssize_t got;
        total = 0;
        while ((got = recv(client, bytes, sizeof bytes, 0)) > 0) {
            total += long(got);
        }
        total = got == 0 ? total : -1;
    }
    close(client);
    return total;
}
