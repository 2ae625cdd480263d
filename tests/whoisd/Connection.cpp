#include "tests/whoisd/Connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace whoisd {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<long long>(0, left.count()));
}

Clock::time_point millisecondsFromNow(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

Connection::Connection(int socket, int stopSignal, int idleMs)
    : socket(socket), stopSignal(stopSignal), idleMs(idleMs) {}

Connection::~Connection() {
    if (socket >= 0) {
        close(socket);
    }
}

// Waits until the socket is ready for `events` (or has failed, which the
// next call on it reports), the time runs out (-1: never), or the server
// stops.
Connection::Wait Connection::WaitFor(short events, int timeoutMs) {
    pollfd watched[2] = {{socket, events, 0}, {stopSignal, POLLIN, 0}};
    auto deadline = millisecondsFromNow(timeoutMs);
    for (;;) {
        int left = timeoutMs < 0 ? -1 : millisecondsUntil(deadline);
        int ready = poll(watched, 2, left);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || watched[1].revents != 0) {
            return Wait::Stopped;
        }
        return ready == 0 ? Wait::TimedOut : Wait::Ready;
    }
}

// Sleeps, waking early only when the server stops (then false).
bool Connection::Pause(int ms) {
    pollfd watched = {stopSignal, POLLIN, 0};
    auto deadline = millisecondsFromNow(ms);
    int ready;
    do {
        ready = poll(&watched, 1, millisecondsUntil(deadline));
    } while (ready < 0 && errno == EINTR);
    return ready == 0;
}

Received Connection::ReadQuery() {
    Received received;
    auto deadline = millisecondsFromNow(QueryTimeLimitMs);
    for (;;) {
        int wait = std::min(idleMs, millisecondsUntil(deadline));
        Wait result = wait > 0 ? WaitFor(POLLIN, wait) : Wait::TimedOut;
        if (result != Wait::Ready) {
            received.end = result == Wait::TimedOut ? QueryEnd::Idle : QueryEnd::Failed;
            return received;
        }
        char chunk[512];
        size_t room = std::min(sizeof chunk, QueryLimit - received.bytes.size());
        ssize_t count = recv(socket, chunk, room, 0);
        if (count < 0 && wouldBlock(errno)) {
            continue;
        }
        if (count <= 0) {
            received.end = count == 0 ? QueryEnd::ClientClosed : QueryEnd::Failed;
            return received;
        }
        received.bytes.append(chunk, size_t(count));
        if (std::memchr(chunk, '\n', size_t(count)) != nullptr) {
            received.end = QueryEnd::LineFeed;
            return received;
        }
        if (received.bytes.size() >= QueryLimit) {
            received.end = QueryEnd::Limit;
            return received;
        }
    }
}

bool Connection::SendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t count = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += size_t(count);
        } else if (count == 0 || !wouldBlock(errno) ||
                   WaitFor(POLLOUT, SendTimeLimitMs) != Wait::Ready) {
            return false;
        }
    }
    return true;
}

// Reads and drops what the client sends until it closes its side, a receive
// fails, the server stops, or timeoutMs have passed (-1: no time limit).
void Connection::DiscardUntilClosed(int timeoutMs) {
    auto deadline = millisecondsFromNow(timeoutMs);
    for (;;) {
        int left = timeoutMs < 0 ? -1 : millisecondsUntil(deadline);
        if (left == 0 || WaitFor(POLLIN, left) != Wait::Ready) {
            return;
        }
        char discarded[512];
        ssize_t count = recv(socket, discarded, sizeof discarded, 0);
        if (count == 0 || (count < 0 && !wouldBlock(errno))) {
            return;
        }
    }
}

// Ends the sending side, then reads until the client closes its side too,
// so that unread bytes of the client do not turn the close into a reset.
void Connection::CloseGracefully() {
    shutdown(socket, SHUT_WR);
    DiscardUntilClosed(ClosingTimeLimitMs);
    close(socket);
    socket = -1;
}

// An abortive close: the peer sees a reset, not an end of data.
void Connection::CloseWithReset() {
    linger abortive = {1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(socket);
    socket = -1;
}

// Answers nothing; reads and drops what comes until the client closes or
// the server stops.
void Connection::HoldSilently() {
    DiscardUntilClosed(-1);
}

void Connection::Drip() {
    for (int number = 1; number <= DripLines; ++number) {
        if ((number > 1 && !Pause(DripPauseMs)) || !SendAll(DripReplyLine(number))) {
            return;
        }
    }
}

void Connection::Answer(const Received& received, const CannedReplies& replies) {
    if (received.end == QueryEnd::Failed) {
        return;
    }
    if (received.bytes.empty()) {
        SendAll(NoQueryReply);
        CloseGracefully();
        return;
    }
    const std::string queryLine = received.bytes.substr(0, received.bytes.find('\n'));
    const std::string behaviour = NormaliseQuery(queryLine);
    if (behaviour == "silent") {
        HoldSilently();
        return;
    }
    if (behaviour == "reset") {
        if (SendAll(ResetPartialReply)) {
            Pause(ResetDelayMs);
        }
        CloseWithReset();
        return;
    }
    const std::string slow = "slow ";
    if (behaviour.compare(0, slow.size(), slow) == 0) {
        if (Pause(SlowReplyDelayMs)) {
            SendAll(replies.ReplyFor(TrimQuery(queryLine).substr(slow.size())));
        }
    } else if (behaviour == "drip") {
        Drip();
    } else if (behaviour == "large") {
        SendAll(LargeReply());
    } else if (behaviour == "hostile") {
        SendAll(HostileReply);
    } else if (behaviour != "close") {
        SendAll(replies.ReplyFor(queryLine));
    }
    CloseGracefully();
}

} // namespace whoisd
