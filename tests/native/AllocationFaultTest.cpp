// Allocations that fail: the Nth of the core's allocations (new with
// std::nothrow) is made to fail, for every N a request or a registration
// makes. Each failure must give E_OUTOFMEMORY or a whole page (the "not
// processed" page when the worker thread cannot start), leak nothing (LSan,
// in the address sanitizer build) and leave the registry file readable.
#include "RegistryTestSupport.h"

#include "protocol/Identifiers.h"
#include "protocol/ResultPage.h"
#include "server/ObjectMap.h"
#include "server/ServerModule.h"
#include "support/ProtocolHost.h"
#include "tests/whoisd/WhoisServer.h"

#include <atomic>
#include <new>
#include <set>

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer();
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer();

namespace {

// Counts down to the allocation that fails; below 0 nothing fails.
std::atomic<long> allocationsBeforeFailure{-1};
std::atomic<bool> failureInjected{false};

void failAllocation(long n) {
    failureInjected = false;
    allocationsBeforeFailure = n - 1;
}

// Disarms; whether the armed allocation was reached.
bool failureWasInjected() {
    allocationsBeforeFailure = -1;
    return failureInjected;
}

bool allocationFails() {
    if (allocationsBeforeFailure.load() < 0 || allocationsBeforeFailure.fetch_sub(1) != 0) {
        return false;
    }
    failureInjected = true;
    return true;
}

// Through the throwing forms, so that each block is freed as it was made.
template <typename Allocate> void* allocate(Allocate allocateOrThrow) noexcept {
    if (allocationFails()) {
        return nullptr;
    }
    try {
        return allocateOrThrow();
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return allocate([size] { return ::operator new(size); });
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return allocate([size] { return ::operator new[](size); });
}

namespace {

bool moduleIdle() {
    return theModule.GetLockCount() == 0;
}

const ObjectMaker maker = {"StaticLibrary", nullptr, moduleIdle};

bool isWholePage(const std::string& page) {
    return page.compare(0, PageHeader.size(), PageHeader) == 0 &&
           page.size() >= PageTrailer.size() &&
           page.compare(page.size() - PageTrailer.size(), PageTrailer.size(), PageTrailer) == 0;
}

// One request through the class object, as a browser makes it, with the Nth
// allocation from the class object's lookup on failing: what came of it
// ("page" for a completed one, or the failing step) and the page.
std::string request(const std::string& url, long n, std::string& page) {
    TestSink sink;
    std::u16string wide(url.begin(), url.end());
    failAllocation(n);
    IClassFactory* factory = nullptr;
    HRESULT result = theModule.FindClassObject(CLSID_LocalFileProtocol, IID_IClassFactory,
                                               reinterpret_cast<void**>(&factory));
    if (FAILED(result)) {
        return result == E_OUTOFMEMORY ? "class object" : "class object failed otherwise";
    }
    IInternetProtocol* protocol = nullptr;
    result = factory->CreateInstance(nullptr, IID_IInternetProtocol,
                                     reinterpret_cast<void**>(&protocol));
    factory->Release();
    if (FAILED(result)) {
        return result == E_OUTOFMEMORY ? "CreateInstance" : "CreateInstance failed otherwise";
    }
    result = protocol->Start(reinterpret_cast<LPCWSTR>(wide.c_str()), &sink, nullptr, 0, 0);
    std::string outcome = result == E_OUTOFMEMORY ? "Start" : "Start failed otherwise";
    if (result == S_OK) {
        outcome = sink.WaitForCompletion(60000) ? "page" : "no completion";
        protocol->LockRequest(0);
        char piece[4096];
        ULONG count = 0;
        while (protocol->Read(piece, sizeof piece, &count) == S_OK) {
            page.append(piece, count);
        }
        protocol->UnlockRequest();
    }
    protocol->Release();
    return outcome;
}

class AllocationFaults : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        theModule.Initialize(objectMap, ModuleFromAddress(objectMap));
    }
    void TearDown() override {
        theModule.Shutdown();
        RegistryTest::TearDown();
    }
};

TEST_F(AllocationFaults, ARequestGivesOutOfMemoryOrAWholePageWhicheverAllocationFails) {
    whoisd::WhoisServer server;
    std::string error;
    ASSERT_TRUE(server.Start(0, error)) << error;
    std::string escaped;
    for (char c : std::string(whoisd::ExampleReply)) {
        escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    }
    const std::string notProcessed = PageHeader + StatusLines(StatusNotProcessed) + PageTrailer;
    std::set<std::string> outcomes;
    // A plain name, and one whose international form the URL's parsing
    // makes (with allocations of its own); the server answers that one with
    // a page of its own, whole like any other.
    for (const char* query : {"example.com", "b%C3%BCcher.example"}) {
        const std::string url = UrlFor(server.port(), query);
        const std::string normal = query == std::string("example.com")
                                       ? PageHeader + escaped + PageTrailer
                                       : std::string();
        for (long n = 1; n < 10000; ++n) {
            std::string page;
            std::string outcome = request(url, n, page);
            ASSERT_TRUE(WaitUntilIdle(maker)) << "allocation " << n << ": a lock is left";
            if (!failureWasInjected()) {
                EXPECT_TRUE(normal.empty() ? isWholePage(page) && page != notProcessed
                                           : page == normal)
                    << "every allocation has failed once; now none does: " << page;
                break;
            }
            if (outcome == "page") {
                EXPECT_TRUE(isWholePage(page)) << "allocation " << n << ": " << page;
                outcome = page == normal         ? "normal page"
                          : page == notProcessed ? "not processed"
                                                 : page;
            }
            EXPECT_NE(outcome, "no completion") << query << ", allocation " << n;
            outcomes.insert(outcome);
        }
    }
    for (const char* expected : {"class object", "CreateInstance", "Start", "not processed"}) {
        EXPECT_EQ(outcomes.count(expected), 1u) << expected;
    }
    for (const std::string& outcome : outcomes) {
        EXPECT_TRUE(outcome == "class object" || outcome == "CreateInstance" ||
                    outcome == "Start" || outcome == "not processed" || outcome == "normal page" ||
                    isWholePage(outcome))
            << outcome;
    }
}

TEST_F(AllocationFaults, RegistrationGivesOutOfMemoryAndLeavesARegistryThatReads) {
    std::set<HRESULT> results;
    for (long n = 1; n < 10000; ++n) {
        failAllocation(n);
        HRESULT result = DllRegisterServer();
        if (!failureWasInjected()) {
            EXPECT_EQ(result, S_OK);
            break;
        }
        results.insert(result);
        HKEY key = nullptr;
        LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key);
        EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
        if (key != nullptr) {
            RegCloseKey(key);
        }
        EXPECT_EQ(DllUnregisterServer(), S_OK);
    }
    EXPECT_EQ(results.count(E_OUTOFMEMORY), 1u);
    for (HRESULT result : results) {
        EXPECT_TRUE(result == E_OUTOFMEMORY || result == S_OK) << std::hex << result;
    }
}

} // namespace
