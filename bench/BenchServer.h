// The benchmarks' whois server: one thread on 127.0.0.1 that serves every
// connection from a single poll loop, so that it costs as little as a server
// can and the same for every client it is compared with. It reads the query
// line, waits the set delay, writes the canned reply and closes.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

class BenchServer {
public:
    // `delayMs`: how long each query waits before its reply is written.
    explicit BenchServer(int delayMs = 0);
    ~BenchServer(); // stops the server
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;

    // The reply to `query`; a query without one gets "no match\r\n".
    void SetReply(const std::string& query, const std::string& reply);

    // Listens on a free loopback port; false with the reason in `error`.
    bool Start(std::string& error);
    void Stop();
    uint16_t Port() const { return port; }
    // The connections accepted so far.
    long Accepted() const { return accepted.load(); }

private:
    void Serve();

    const int delayMs;
    std::map<std::string, std::string> replies;
    int listener = -1;
    int stopPipe[2] = {-1, -1};
    uint16_t port = 0;
    std::atomic<long> accepted{0};
    std::thread thread;
};

// The plain exchange hollin is compared with: connect, send the query line,
// read to the close in 16 KiB reads. Returns the bytes read, -1 on failure.
long PlainExchange(uint16_t port, const std::string& query);
