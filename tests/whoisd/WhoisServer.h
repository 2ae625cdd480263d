// hollin's whois server for tests and demos: listens on 127.0.0.1, serves
// each connection on a thread of its own, answers by query (see
// CannedReplies.h and the behaviours below) and records what every
// connection delivered.
//
// Behaviours, chosen by the query (ASCII case and surrounding white space
// do not matter):
//   close     closes at once: no reply
//   silent    never answers; holds the connection until the client closes
//             it or the server stops
//   reset     sends ResetPartialReply, then resets the connection
//   large     sends LargeReply(), twice the 64 KiB a page holds
//   drip      sends DripReply() a line at a time, DripPauseMs apart
//   hostile   sends HostileReply
//   slow Q    waits SlowReplyDelayMs, then answers as Q would
// A client that sends nothing for the idle time gets NoQueryReply; any other
// query gets its canned reply or the no-match text.
#pragma once

#include "tests/whoisd/CannedReplies.h"
#include "tests/whoisd/Connection.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace whoisd {

// The default idle time: how long a connection may stay silent before the
// server takes it as one that sends no query. Long enough that a slow client
// (under a sanitizer or valgrind) is not mistaken for one that sends nothing.
const int DefaultIdleMs = 1000;

class WhoisServer {
public:
    explicit WhoisServer(CannedReplies replies = CannedReplies());
    ~WhoisServer(); // stops the server
    WhoisServer(const WhoisServer&) = delete;
    WhoisServer& operator=(const WhoisServer&) = delete;

    // Settings; they take effect at the next Start.
    void SetIdleTime(int milliseconds) { idleMs = milliseconds; }
    // Listen on ::1 instead of 127.0.0.1.
    void SetIPv6(bool v6) { ipv6 = v6; }
    // Replaces the canned replies; connections accepted later use the new
    // ones (a server that must name its own port learns it only at Start).
    void SetReplies(CannedReplies newReplies);
    // Called once per connection, on that connection's thread, with what it
    // delivered; calls are serialised.
    void OnReceived(std::function<void(const Received&)> callback);

    // Listens on 127.0.0.1:`port` or [::1]:`port` (0: a free port the
    // system picks).
    // Returns false and says why in `error` when that fails.
    bool Start(uint16_t port, std::string& error);
    // Ends every connection (also the silent ones) and waits for its thread.
    void Stop();
    uint16_t port() const { return boundPort; }

    // What the connections delivered, in the order their queries were read.
    std::vector<Received> received() const;
    // Waits until `count` connections have delivered their query.
    bool WaitForReceived(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until every accepted connection has been closed.
    bool WaitUntilAllClosed(std::chrono::milliseconds timeout) const;

private:
    struct Client {
        std::thread thread;
        bool finished = false; // guarded by `lock`
    };

    void Accept();
    void StartClient(int socket);
    void Serve(int socket, Client* client);
    void JoinFinishedClients();
    void Record(const Received& received);

    CannedReplies replies; // guarded by `lock`
    int idleMs = DefaultIdleMs;
    bool ipv6 = false;
    std::function<void(const Received&)> onReceived;

    int listener = -1;
    int stopPipe[2] = {-1, -1}; // readable once Stop has begun
    uint16_t boundPort = 0;
    std::thread acceptor;
    std::list<Client> clients; // touched by the acceptor thread and Stop only

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<Received> records;
    size_t openConnections = 0;
};

// `bytes` as a C-style quoted text: printable ASCII as it is, \\ \" \n \r \t
// and \xHH for the rest. One line, whatever the bytes.
std::string QuoteBytes(const std::string& bytes);

} // namespace whoisd
