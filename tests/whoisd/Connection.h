// One client of the test whois server: reads its query, then answers it
// with a canned reply or the scripted behaviour the query names.
#pragma once

#include "tests/whoisd/CannedReplies.h"

#include <string>

namespace whoisd {

// How the reading of a query ended.
enum class QueryEnd {
    LineFeed,     // a line feed arrived
    ClientClosed, // the client shut down its sending side
    Limit,        // QueryLimit bytes arrived without a line feed
    Idle,         // nothing more arrived for the idle time
    Failed,       // a receive failed, or the server is stopping
};

// What one connection delivered before the server answered.
struct Received {
    std::string bytes; // exactly as they arrived, line feed included
    QueryEnd end = QueryEnd::Failed;
};

// Reading a query stops after this many bytes.
const size_t QueryLimit = 4096;
// ... and after this long in all, however slowly bytes trickle in.
const int QueryTimeLimitMs = 5000;
// A client that reads nothing for this long while a reply waits is dropped.
const int SendTimeLimitMs = 5000;
// After the reply, how long the client may take to close its side.
const int ClosingTimeLimitMs = 2000;
// "slow QUERY" answers as QUERY would, this long after the query came.
const int SlowReplyDelayMs = 100;
// The reset behaviour waits this long between its bytes and the reset, so
// that the bytes are on the wire before the reset discards what is unsent.
const int ResetDelayMs = 100;

class Connection {
public:
    // Takes over `socket` (closed by the destructor). `stopSignal` becomes
    // readable when the server stops; every wait here watches it.
    Connection(int socket, int stopSignal, int idleMs);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Reads up to the first line feed, the client's end of sending, the
    // limit or the idle time.
    Received ReadQuery();
    // Answers what ReadQuery delivered, then closes the connection.
    void Answer(const Received& received, const CannedReplies& replies);

private:
    enum class Wait { Ready, TimedOut, Stopped };
    Wait WaitFor(short events, int timeoutMs);
    bool Pause(int ms);
    bool SendAll(const std::string& bytes);
    void DiscardUntilClosed(int timeoutMs);
    void CloseGracefully();
    void CloseWithReset();
    void HoldSilently();
    void Drip();

    int socket;
    int stopSignal;
    int idleMs;
};

} // namespace whoisd
