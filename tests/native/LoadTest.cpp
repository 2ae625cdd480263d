// Many requests at once in one process, each through its own protocol
// object, against a server that answers each after a pause: every page is
// right, and afterwards no thread is left and memory has not grown with the
// number of rounds. No timing is asserted.
#include "protocol/LocalFileProtocol.h"
#include "support/ModuleLock.h"
#include "support/ProtocolHost.h"
#include "support/ProcessThreads.h"
#include "tests/whoisd/WhoisServer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

const int Requests = 256;

// As the library's DllCanUnloadNow answers.
bool moduleIdle() {
    return ModuleLockCount() == 0 && ReleaseIdleThreads();
}

const ObjectMaker maker = {"StaticLibrary", LocalFileProtocol::Create, moduleIdle};

// Resident memory in KiB.
long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string field;
    long value = 0;
    while (status >> field) {
        if (field == "VmRSS:") {
            status >> value;
            break;
        }
    }
    return value;
}

// Threads end a little after they let go of the module: wait for them.
bool threadsBackTo(int count) {
    for (int i = 0; i < 2000 && ThreadsOfProcess() > count; ++i) {
        Sleep(10);
    }
    return ThreadsOfProcess() <= count;
}

void runRound(WORD port, int round) {
    std::vector<std::unique_ptr<Browser>> browsers;
    for (int i = 0; i < Requests; ++i) {
        browsers.emplace_back(new Browser(maker));
        std::string query = "q" + std::to_string(round) + "-" + std::to_string(i);
        ASSERT_EQ(browsers.back()->Start(UrlFor(port, "slow " + query)), S_OK);
    }
    for (int i = 0; i < Requests; ++i) {
        std::string query = "q" + std::to_string(round) + "-" + std::to_string(i);
        ASSERT_TRUE(browsers[i]->sink.WaitForCompletion(120000)) << query;
        EXPECT_EQ(browsers[i]->Page(), PageHeader + whoisd::NoMatchReply(query) + PageTrailer);
        EXPECT_EQ(browsers[i]->sink.resultReports, 1);
    }
}

// One request first: threads the runtime starts once, at the first thread
// or socket of the process (a sanitizer's own, for one), belong to the
// count a round must return to, and are not left behind by the requests.
int threadsAfterOneRequest() {
    whoisd::WhoisServer server;
    std::string error;
    EXPECT_TRUE(server.Start(0, error)) << error;
    {
        Browser browser(maker);
        EXPECT_EQ(browser.Start(UrlFor(server.port(), "warm-up")), S_OK);
        EXPECT_TRUE(browser.sink.WaitForCompletion(120000));
    }
    EXPECT_TRUE(WaitUntilIdle(maker));
    server.Stop();
    int count = ThreadsOfProcess();
    for (int settled = 0; settled < 20; ++settled) { // 200 ms without change
        Sleep(10);
        if (ThreadsOfProcess() != count) {
            count = ThreadsOfProcess();
            settled = 0;
        }
    }
    return count;
}

TEST(Load, ManyRequestsAtOnceEachGetTheirOwnPageAndLeaveNothingBehind) {
    const int threadsBefore = threadsAfterOneRequest();
    long afterFirstRound = 0;
    for (int round = 1; round <= 2; ++round) {
        whoisd::WhoisServer server;
        std::string error;
        ASSERT_TRUE(server.Start(0, error)) << error;
        runRound(server.port(), round);
        ASSERT_TRUE(WaitUntilIdle(maker));
        server.Stop();
        EXPECT_TRUE(threadsBackTo(threadsBefore)) << ThreadsOfProcess() << " threads left";
        if (round == 1) {
            afterFirstRound = residentKiB();
        }
    }
    // A leak of a page or a thread's stack a request would show as growth
    // of megabytes over a round; allocators keep some slack.
    EXPECT_LT(residentKiB() - afterFirstRound, 64 * 1024) << "KiB grown in the second round";
}

} // namespace
