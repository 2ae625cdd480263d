// Measures what a user of the handler waits for, against whois servers on
// 127.0.0.1 in this process. One line per figure:
//
//   overhead/small, overhead/64KiB  the same queries asked through hollin.so
//       (create a protocol object, Start, wait for the completion report,
//       LockRequest, read the page, Release) and through a plain socket
//       exchange (connect, send the query line, read to the close), in
//       alternating blocks: microseconds a query for each, and their ratio;
//       and the plain exchange on a thread of its own, handed over and
//       reported back (threaded_us, threaded_ratio): what the two crossings
//       between threads cost on this machine, before any handler code
//   concurrency  256 requests at once, each through its own protocol object,
//       against a server that answers each after 100 ms: the wall time until
//       the last page is read, and the process's peak resident memory
//   chains  simple-shape lookups (dnswhois:QUERY) whose default server refers
//       each zone to a second server: connections made and wall time a
//       lookup, the first time and again once the zone is remembered
//   page  storing a 64 KiB reply full of markup as the stream stores what it
//       receives (escaped, in receive-sized pieces), laying the page out
//       around it and reading it out: reply bytes that reach the page, per
//       second
//
//   request_bench [Google Benchmark options, e.g. --benchmark_filter=page]
//
// hollin.so is the one this build made beside the program.
#include "bench/BenchServer.h"
#include "platform/winapi.h"
#include "protocol/Identifiers.h"
#include "protocol/ResultPage.h"
#include "protocol/SocketStream.h"
#include "protocol/WhoisSettings.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <numeric>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const int OverheadQueries = 2000;
// The two ways alternate in blocks of this many queries, so that both see
// the same state of a shared, noisy machine.
const int OverheadBlock = 100;
const int ConcurrentRequests = 256;
const int SlowServerDelayMs = 100;
const int ChainLookups = 100;
const int PageReplySize = 65536;
// What a host asks Read for at a time (dnswhois asks the same).
const ULONG ReadPieceSize = 4096;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The time below which `share` of the timings lie, in microseconds.
double percentileUs(std::vector<double> seconds, double share) {
    if (seconds.empty()) {
        return 0;
    }
    auto at = seconds.begin() + std::ptrdiff_t(share * double(seconds.size() - 1));
    std::nth_element(seconds.begin(), at, seconds.end());
    return *at * 1e6;
}

// Numbered lines of whois-like text, `size` bytes in all.
std::string linesOfText(size_t size) {
    std::string text;
    char line[80];
    for (int number = 1; text.size() < size; ++number) {
        std::snprintf(line, sizeof line, "%05d Registrar URL: http://registrar.example/%05d\r\n",
                      number, number);
        text += line;
    }
    text.resize(size);
    return text;
}

// A reply in which every line carries markup and entities to escape.
std::string markupReply(size_t size) {
    std::string text;
    while (text.size() < size) {
        text += "<a href=\"http://registrar.example/?q=a&b\">Registrar &amp; Co</a> "
                "<script>alert(1)</script>\r\n";
    }
    text.resize(size);
    return text;
}

const std::string SmallReply =
    "Domain Name: EXAMPLE.COM\r\nRegistry Domain ID: 2336799_DOMAIN_COM\r\n"
    "Registrar: Example Registrar\r\n";
const std::string LargeReply = linesOfText(PageReplySize);

std::u16string urlFor(uint16_t port, const std::string& query) {
    std::string url = "dnswhois://127.0.0.1:" + std::to_string(port) + "/" + query;
    return std::u16string(url.begin(), url.end());
}

// --- hollin.so through its exports -------------------------------------------------

typedef HRESULT (*GetClassObjectFunction)(REFCLSID, REFIID, void**);
typedef HRESULT (*CanUnloadNowFunction)();

// The library and its class object, held as a browser holds them. Never
// unloaded: a request cut loose may still be ending.
struct Handler {
    GetClassObjectFunction getClassObject = nullptr;
    CanUnloadNowFunction canUnloadNow = nullptr;
    IClassFactory* factory = nullptr;
    std::string error;

    Handler() {
        void* library = dlopen(HOLLIN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library != nullptr) {
            getClassObject =
                reinterpret_cast<GetClassObjectFunction>(dlsym(library, "DllGetClassObject"));
            canUnloadNow =
                reinterpret_cast<CanUnloadNowFunction>(dlsym(library, "DllCanUnloadNow"));
        }
        if (getClassObject == nullptr || canUnloadNow == nullptr || !TakeClassObject()) {
            error = std::string("cannot use ") + HOLLIN_LIBRARY;
        }
    }

    bool TakeClassObject() {
        return getClassObject(CLSID_LocalFileProtocol, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)) == S_OK;
    }

    // Waits (untimed, between measurements) until the threads of the last
    // requests are gone: the library is idle once the class object is let go.
    void WaitUntilIdle() {
        factory->Release();
        while (canUnloadNow() != S_OK) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        TakeClassObject();
    }
};

Handler& handler() {
    static Handler loaded;
    return loaded;
}

// Counts completion reports; shared by the sinks of one batch of requests.
class Completions {
public:
    // The waiter is woken once the lock is let go, so that it does not wake
    // only to wait for the lock.
    void Add() {
        {
            std::lock_guard<std::mutex> guard(lock);
            ++count;
        }
        changed.notify_all();
    }
    bool WaitFor(int expected) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(30), [&] { return count >= expected; });
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
};

class Sink final : public IInternetProtocolSink {
public:
    explicit Sink(Completions& completions) : completions(completions) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IInternetProtocolSink)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<IInternetProtocolSink*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Switch(PROTOCOLDATA*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReportProgress(ULONG, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReportData(DWORD, ULONG, ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReportResult(HRESULT, DWORD, LPCWSTR) override {
        completions.Add();
        return S_OK;
    }

private:
    Completions& completions;
    std::atomic<ULONG> references{1};
};

// What reading a page gave.
struct PageRead {
    size_t length = 0;
    std::string tail; // at least its last TailSize bytes
};
const size_t TailSize = 64;

// One protocol object, from its creation to its release.
class Request {
public:
    Request() = default;
    ~Request() {
        if (protocol != nullptr) {
            protocol->Release();
        }
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    bool Start(const std::u16string& url, Completions& completions) {
        if (handler().factory->CreateInstance(nullptr, IID_IInternetProtocol,
                                              reinterpret_cast<void**>(&protocol)) != S_OK) {
            return false;
        }
        Sink* sink = new Sink(completions);
        // hollin asks nothing of the bind information: none is given.
        HRESULT result = protocol->Start(url.c_str(), sink, nullptr, 0, 0);
        sink->Release();
        return result == S_OK;
    }

    // LockRequest, Read until S_FALSE, UnlockRequest. Like the plain
    // exchange, it keeps no more than it must: the page's length and its
    // last bytes, and the whole page only when `whole` is given.
    PageRead ReadPage(std::string* whole = nullptr) {
        PageRead read;
        protocol->LockRequest(0);
        char piece[ReadPieceSize];
        ULONG count = 0;
        while (protocol->Read(piece, sizeof piece, &count) == S_OK) {
            read.length += count;
            read.tail.append(piece, count);
            if (read.tail.size() > 2 * ReadPieceSize) {
                read.tail.erase(0, read.tail.size() - TailSize);
            }
            if (whole != nullptr) {
                whole->append(piece, count);
            }
        }
        protocol->UnlockRequest();
        return read;
    }

private:
    IInternetProtocol* protocol = nullptr;
};

// One whole request, through a protocol object of its own.
PageRead askHollin(const std::u16string& url, std::string* whole = nullptr) {
    Completions completions;
    Request request;
    if (!request.Start(url, completions) || !completions.WaitFor(1)) {
        return PageRead();
    }
    return request.ReadPage(whole);
}

// A whole page ends with its closing line. (Where a long reply is cut
// depends on how its bytes arrived, so its page's length may vary a little.)
bool pageComplete(const PageRead& read) {
    std::string closing = std::string(PageClosingLine) + "\n";
    return read.tail.size() >= closing.size() &&
           read.tail.compare(read.tail.size() - closing.size(), closing.size(), closing) == 0;
}

// The page holds the reply's first line (as the stream stores it) and ends whole.
bool pageHolds(const std::string& page, const std::string& reply) {
    std::string firstLine = reply.substr(0, reply.find('\r'));
    PageRead read;
    read.tail = page;
    return page.find(firstLine) != std::string::npos && pageComplete(read);
}

bool startServer(benchmark::State& state, BenchServer& server) {
    std::string error;
    if (!handler().error.empty()) {
        state.SkipWithError(handler().error.c_str());
        return false;
    }
    if (!server.Start(error)) {
        state.SkipWithError(error.c_str());
        return false;
    }
    return true;
}

// --- the floor of any handler that asks on a thread of its own ----------------------

// The plain exchange on a worker thread that waits for it, handed over and
// reported back through a condition variable as a host and a handler hand a
// request over: no handler code at all, only the two crossings between
// threads that asking on a thread of one's own takes. Against the plain
// exchange, it says how much of hollin's overhead the machine sets.
class ThreadedExchange {
public:
    ThreadedExchange() : worker([this] { Serve(); }) {}
    ~ThreadedExchange() {
        {
            std::lock_guard<std::mutex> guard(lock);
            leaving = true;
        }
        changed.notify_all();
        worker.join();
    }
    ThreadedExchange(const ThreadedExchange&) = delete;
    ThreadedExchange& operator=(const ThreadedExchange&) = delete;

    long Ask(uint16_t port, const std::string& query) {
        std::unique_lock<std::mutex> guard(lock);
        askedPort = port;
        askedQuery = query;
        asked = true;
        answered = false;
        guard.unlock();
        changed.notify_all();
        guard.lock();
        changed.wait(guard, [this] { return answered; });
        return bytesRead;
    }

private:
    void Serve() {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait(guard, [this] { return asked || leaving; });
            if (leaving) {
                return;
            }
            asked = false;
            guard.unlock();
            long read = PlainExchange(askedPort, askedQuery);
            guard.lock();
            bytesRead = read;
            answered = true;
            guard.unlock();
            changed.notify_all();
            guard.lock();
        }
    }

    std::mutex lock;
    std::condition_variable changed;
    bool asked = false, answered = false, leaving = false;
    uint16_t askedPort = 0;
    std::string askedQuery;
    long bytesRead = -1;
    std::thread worker; // last: it starts once the rest is ready
};

// --- the figures ----------------------------------------------------------------------

void overhead(benchmark::State& state, const std::string& reply) {
    BenchServer server;
    server.SetReply("query", reply);
    if (!startServer(state, server)) {
        return;
    }
    std::u16string url = urlFor(server.Port(), "query");
    std::string firstPage;
    askHollin(url, &firstPage);
    if (!pageHolds(firstPage, reply) ||
        PlainExchange(server.Port(), "query") != long(reply.size())) {
        state.SkipWithError("the first exchange did not bring the reply");
        return;
    }
    ThreadedExchange threaded;
    std::vector<double> plainTimes, threadedTimes, hollinTimes; // each query's, in seconds
    bool allRead = true;
    for (auto _ : state) {
        for (int done = 0; done < OverheadQueries; done += OverheadBlock) {
            for (int i = 0; i < OverheadBlock; ++i) {
                auto start = Clock::now();
                allRead &= PlainExchange(server.Port(), "query") == long(reply.size());
                plainTimes.push_back(secondsSince(start));
            }
            for (int i = 0; i < OverheadBlock; ++i) {
                auto start = Clock::now();
                allRead &= threaded.Ask(server.Port(), "query") == long(reply.size());
                threadedTimes.push_back(secondsSince(start));
            }
            for (int i = 0; i < OverheadBlock; ++i) {
                auto start = Clock::now();
                allRead &= pageComplete(askHollin(url));
                hollinTimes.push_back(secondsSince(start));
            }
            handler().WaitUntilIdle();
        }
    }
    double plainSeconds = std::accumulate(plainTimes.begin(), plainTimes.end(), 0.0);
    double threadedSeconds = std::accumulate(threadedTimes.begin(), threadedTimes.end(), 0.0);
    double hollinSeconds = std::accumulate(hollinTimes.begin(), hollinTimes.end(), 0.0);
    state.SetIterationTime(plainSeconds + threadedSeconds + hollinSeconds);
    if (!allRead) {
        state.SkipWithError("an exchange did not bring the whole reply");
    }
    state.counters["plain_us"] = plainSeconds * 1e6 / OverheadQueries;
    state.counters["hollin_us"] = hollinSeconds * 1e6 / OverheadQueries;
    state.counters["ratio"] = hollinSeconds / plainSeconds;
    state.counters["threaded_us"] = threadedSeconds * 1e6 / OverheadQueries;
    state.counters["threaded_ratio"] = threadedSeconds / plainSeconds;
    // A few slow queries move the mean: the middle and the slowest tenth
    // tell a steady cost from hold-ups.
    state.counters["plain_p50_us"] = percentileUs(plainTimes, 0.5);
    state.counters["hollin_p50_us"] = percentileUs(hollinTimes, 0.5);
    state.counters["plain_p90_us"] = percentileUs(plainTimes, 0.9);
    state.counters["hollin_p90_us"] = percentileUs(hollinTimes, 0.9);
}
BENCHMARK_CAPTURE(overhead, small, SmallReply)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(overhead, 64KiB, LargeReply)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void concurrency(benchmark::State& state) {
    BenchServer server(SlowServerDelayMs);
    server.SetReply("query", SmallReply);
    if (!startServer(state, server)) {
        return;
    }
    std::u16string url = urlFor(server.Port(), "query");
    double slowest = 0;
    bool allRead = true;
    for (auto _ : state) {
        Completions completions;
        std::vector<Request> requests(ConcurrentRequests);
        auto start = Clock::now();
        for (Request& request : requests) {
            allRead &= request.Start(url, completions);
        }
        allRead &= completions.WaitFor(ConcurrentRequests);
        for (Request& request : requests) {
            std::string page;
            request.ReadPage(&page);
            allRead &= pageHolds(page, SmallReply);
        }
        double wall = secondsSince(start);
        state.SetIterationTime(wall);
        slowest = std::max(slowest, wall);
        requests.clear();
        handler().WaitUntilIdle();
    }
    if (!allRead) {
        state.SkipWithError("a request did not bring its page");
    }
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["slowest_ms"] = slowest * 1e3;
    state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024;
}
BENCHMARK(concurrency)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The handler's settings, in a registry file of the benchmark's own: the
// default server on loopback and no RDAP bootstrap (RDAP off), so that
// nothing leaves the machine.
class LoopbackSettings {
public:
    explicit LoopbackSettings(uint16_t defaultPort) {
        char folderName[] = "/tmp/request_bench.XXXXXX";
        if (mkdtemp(folderName) == nullptr) {
            return;
        }
        folder = folderName;
        setenv("HOLLIN_REGISTRY", (folder + "/registry.reg").c_str(), 1);
        HKEY key = nullptr;
        written =
            RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS &&
            setText(key, "DefaultServer", "127.0.0.1:" + std::to_string(defaultPort)) &&
            setText(key, "RdapBootstrap", "");
        RegCloseKey(key);
    }
    ~LoopbackSettings() {
        unsetenv("HOLLIN_REGISTRY");
        if (!folder.empty()) {
            std::remove((folder + "/registry.reg").c_str());
            std::remove((folder + "/registry.reg.lock").c_str());
            rmdir(folder.c_str());
        }
    }
    LoopbackSettings(const LoopbackSettings&) = delete;
    LoopbackSettings& operator=(const LoopbackSettings&) = delete;
    bool Written() const { return written; }

private:
    static bool setText(HKEY key, const char* name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              DWORD(text.size() + 1)) == ERROR_SUCCESS;
    }

    std::string folder;
    bool written = false;
};

void chains(benchmark::State& state) {
    // A zone of its own for each lookup, never seen before by this process.
    static int run = 0;
    ++run;
    std::vector<std::string> queries;
    for (int i = 0; i < ChainLookups; ++i) {
        queries.push_back("example.r" + std::to_string(run) + "z" + std::to_string(i));
    }
    // The replies are set before each server starts: it reads them.
    BenchServer registrar;
    for (const std::string& query : queries) {
        registrar.SetReply(query, SmallReply);
    }
    if (!startServer(state, registrar)) {
        return;
    }
    BenchServer referring;
    for (const std::string& query : queries) {
        referring.SetReply(query, "refer: 127.0.0.1:" + std::to_string(registrar.Port()) + "\r\n");
    }
    if (!startServer(state, referring)) {
        return;
    }
    LoopbackSettings settings(referring.Port());
    if (!settings.Written()) {
        state.SkipWithError("cannot write the benchmark's settings");
        return;
    }
    // As on an installation, whose settings were written long before its
    // lookups: the registry keeps a file read only once it has settled.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    double seconds[2] = {0, 0}; // first time, remembered
    long connections[2] = {0, 0};
    bool allRead = true;
    for (auto _ : state) {
        for (const std::string& query : queries) {
            std::string url = "dnswhois:" + query;
            for (int remembered = 0; remembered < 2; ++remembered) {
                long before = referring.Accepted() + registrar.Accepted();
                std::string page;
                auto start = Clock::now();
                askHollin(std::u16string(url.begin(), url.end()), &page);
                seconds[remembered] += secondsSince(start);
                connections[remembered] += referring.Accepted() + registrar.Accepted() - before;
                allRead &= pageHolds(page, SmallReply);
            }
        }
        state.SetIterationTime(seconds[0] + seconds[1]);
    }
    if (!allRead) {
        state.SkipWithError("a lookup did not bring the registrar's reply");
    }
    state.counters["first_ms"] = seconds[0] * 1e3 / ChainLookups;
    state.counters["first_connections"] = double(connections[0]) / ChainLookups;
    state.counters["remembered_ms"] = seconds[1] * 1e3 / ChainLookups;
    state.counters["remembered_connections"] = double(connections[1]) / ChainLookups;
}
BENCHMARK(chains)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void page(benchmark::State& state) {
    const std::string reply = markupReply(PageReplySize);
    char piece[ReadPieceSize];
    size_t kept = 0;
    for (auto _ : state) {
        SocketStream stream;
        kept = 0;
        for (size_t at = 0; at < reply.size() && !stream.WasCut(); at += SocketStream::ChunkSize) {
            size_t count = std::min(reply.size() - at, size_t(SocketStream::ChunkSize));
            stream.KeepReceived(reply.data() + at, int(count));
            kept += stream.WasCut() ? 0 : count;
        }
        // As the protocol object lays the page out and hands it to the host.
        const ByteBuffer& stored = *stream.GetIncoming();
        PageView page;
        page.Open(stored.GetData(), stored.GetLength());
        while (page.Read(piece, sizeof piece) != 0) {
            benchmark::DoNotOptimize(piece);
        }
    }
    state.counters["reply_bytes_kept"] = double(kept);
    state.counters["reply_bytes_per_s"] =
        benchmark::Counter(double(kept) * double(state.iterations()), benchmark::Counter::kIsRate);
}
// Single-threaded work: rated by its processor time, which other programs on the
// machine do not stretch.
BENCHMARK(page)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
