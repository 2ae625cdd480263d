#include "tests/whoisd/WhoisServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace whoisd {

namespace {

void closeIfOpen(int& descriptor) {
    if (descriptor >= 0) {
        close(descriptor);
        descriptor = -1;
    }
}

// A failed accept that would fail again at once (no descriptors left, say)
// must not turn the acceptor into a busy loop.
bool isLastingAcceptFailure(int error) {
    return error != EINTR && error != EAGAIN && error != EWOULDBLOCK && error != ECONNABORTED;
}

} // namespace

WhoisServer::WhoisServer(CannedReplies replies) : replies(std::move(replies)) {}

WhoisServer::~WhoisServer() {
    Stop();
}

void WhoisServer::SetReplies(CannedReplies newReplies) {
    std::lock_guard<std::mutex> guard(lock);
    replies = std::move(newReplies);
}

void WhoisServer::OnReceived(std::function<void(const Received&)> callback) {
    std::lock_guard<std::mutex> guard(lock);
    onReceived = std::move(callback);
}

bool WhoisServer::Start(uint16_t port, std::string& error) {
    if (acceptor.joinable()) {
        error = "the server is already running";
        return false;
    }
    sockaddr_storage address = {};
    socklen_t length = sizeof address;
    if (ipv6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        v6->sin6_addr = in6addr_loopback;
        length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    }
    const socklen_t addressLength = length;
    int reuse = 1;
    const char* failedCall = nullptr;
    if (pipe2(stopPipe, O_CLOEXEC) != 0) {
        failedCall = "pipe";
    } else if ((listener = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0)) < 0) {
        failedCall = "socket";
    } else if (setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) {
        failedCall = "setsockopt";
    } else if (bind(listener, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
        failedCall = "bind";
    } else if (listen(listener, 128) != 0) {
        failedCall = "listen";
    } else if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        failedCall = "getsockname";
    }
    if (failedCall != nullptr) {
        error = std::string(failedCall) + (ipv6 ? " for [::1]:" : " for 127.0.0.1:") +
                std::to_string(port) + ": " + std::strerror(errno);
        closeIfOpen(listener);
        closeIfOpen(stopPipe[0]);
        closeIfOpen(stopPipe[1]);
        return false;
    }
    // The port lies at the same place in both address families.
    boundPort = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    acceptor = std::thread(&WhoisServer::Accept, this);
    return true;
}

void WhoisServer::Stop() {
    if (!acceptor.joinable()) {
        return;
    }
    // Never read: the pipe stays readable, and every wait of every
    // connection watches it.
    ssize_t written;
    do {
        written = write(stopPipe[1], "s", 1);
    } while (written < 0 && errno == EINTR);
    acceptor.join();
    for (Client& client : clients) {
        client.thread.join();
    }
    clients.clear();
    closeIfOpen(listener);
    closeIfOpen(stopPipe[0]);
    closeIfOpen(stopPipe[1]);
    boundPort = 0;
}

void WhoisServer::Accept() {
    pollfd watched[2] = {{listener, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    for (;;) {
        int ready = poll(watched, 2, -1);
        if ((ready < 0 && errno != EINTR) || watched[1].revents != 0) {
            return;
        }
        if (ready <= 0) {
            continue;
        }
        int socket = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket >= 0) {
            JoinFinishedClients();
            StartClient(socket);
        } else if (isLastingAcceptFailure(errno)) {
            poll(&watched[1], 1, 100);
        }
    }
}

void WhoisServer::StartClient(int socket) {
    {
        std::lock_guard<std::mutex> guard(lock);
        ++openConnections;
    }
    clients.emplace_back();
    Client* client = &clients.back();
    try {
        client->thread = std::thread(&WhoisServer::Serve, this, socket, client);
    } catch (const std::system_error&) {
        clients.pop_back();
        close(socket);
        std::lock_guard<std::mutex> guard(lock);
        --openConnections;
        changed.notify_all();
    }
}

void WhoisServer::Serve(int socket, Client* client) {
    {
        Connection connection(socket, stopPipe[0], idleMs);
        Received received = connection.ReadQuery();
        Record(received);
        CannedReplies current;
        {
            std::lock_guard<std::mutex> guard(lock);
            current = replies;
        }
        connection.Answer(received, current);
    }
    std::lock_guard<std::mutex> guard(lock);
    client->finished = true;
    --openConnections;
    changed.notify_all();
}

void WhoisServer::JoinFinishedClients() {
    for (auto client = clients.begin(); client != clients.end();) {
        bool finished;
        {
            std::lock_guard<std::mutex> guard(lock);
            finished = client->finished;
        }
        if (finished) {
            client->thread.join();
            client = clients.erase(client);
        } else {
            ++client;
        }
    }
}

void WhoisServer::Record(const Received& received) {
    std::lock_guard<std::mutex> guard(lock);
    records.push_back(received);
    if (onReceived) {
        onReceived(received);
    }
    changed.notify_all();
}

std::vector<Received> WhoisServer::received() const {
    std::lock_guard<std::mutex> guard(lock);
    return records;
}

bool WhoisServer::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, timeout, [&] { return records.size() >= count; });
}

bool WhoisServer::WaitUntilAllClosed(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, timeout, [&] { return openConnections == 0; });
}

std::string QuoteBytes(const std::string& bytes) {
    std::string quoted = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                quoted += char(c);
            } else {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02X", c);
                quoted += escape;
            }
        }
    }
    return quoted + '"';
}

} // namespace whoisd
