// A scripted whois server on 127.0.0.1 for the tests of both builds: it
// accepts connections one after another, records what each sent, and then
// answers as its script says.
#pragma once

#include "platform/winapi.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A listener on 127.0.0.1 that accepts nobody and whose queue of pending
// connections is full, so that a new connection is never made: the system
// drops its handshake, and connect waits.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    WORD Port() const { return port; }

private:
    SOCKET listener = INVALID_SOCKET;
    std::vector<SOCKET> queued;
    WORD port = 0;
};

class LoopbackServer {
public:
    enum class Action {
        Reply,           // send the reply, then close
        CloseAtOnce,     // close without a byte
        Silent,          // keep the connection open and say nothing
        ResetAfterReply, // send the reply, then reset the connection
        Drip,            // send the reply a byte at a time, with pauses
    };

    // On ::1 when `ipv6`; where that cannot be bound, Listening() is false.
    explicit LoopbackServer(Action action, std::string reply = "", bool ipv6 = false);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    WORD Port() const { return port; }
    bool Listening() const { return listener != INVALID_SOCKET; }
    // Replaces the reply, for a server that names itself or one made later.
    void SetReply(const std::string& text);
    // What each connection sent, in order.
    std::vector<std::string> Received();
    // Waits until a connection has been made and its query read.
    void WaitForConnection();

    // A port on which nothing listens (one this server has just released).
    static WORD UnusedPort();

private:
    void Serve();
    void Answer(SOCKET client);
    std::string ReadQuery(SOCKET client);
    bool WaitForStop(DWORD milliseconds);

    Action action;
    std::string reply;
    SOCKET listener = INVALID_SOCKET;
    WORD port = 0;
    std::atomic<bool> stopping{false};
    std::mutex lock;
    std::vector<std::string> received;
    std::thread thread;
};
