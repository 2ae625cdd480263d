// The pages in a real browser: headless Chromium opens the page of a normal
// reply, of a hostile one, of a cut one, of a reply ended by a failure and of
// each failure status alone, and tests/browser/check_pages.py checks their
// DOM (only the page's own elements, the reply text as sent, no script run).
// Skipped where Chromium cannot run.
#include "ChildProcess.h"
#include "NativeTestSupport.h"
#include "protocol/LocalFileProtocol.h"
#include "protocol/ResultPage.h"
#include "support/ModuleLock.h"
#include "support/ProtocolHost.h"
#include "tests/whoisd/WhoisServer.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool moduleIdle() {
    return ModuleLockCount() == 0;
}

const ObjectMaker maker = {"StaticLibrary", LocalFileProtocol::Create, moduleIdle};

TEST(BrowserPages, ChromiumShowsEveryPageKindAsTheServerSentIt) {
    TempDir dir;
    ASSERT_TRUE(dir.Exists());
    whoisd::WhoisServer server;
    std::string error;
    ASSERT_TRUE(server.Start(0, error)) << error;
    auto live = [&](const std::string& name, const std::string& query, const std::string& reply) {
        Browser browser(maker);
        WriteBytes(dir.Path(name + ".html"), browser.Open(UrlFor(server.port(), query)));
        WriteBytes(dir.Path(name + ".reply"), reply);
    };
    live("normal", "example.com", whoisd::ExampleReply);
    live("hostile", "hostile", whoisd::HostileReply);
    live("failure-after-reply", "reset", whoisd::ResetPartialReply);
    live("cut", "large", whoisd::LargeReply());
    WriteBytes(dir.Path("cut.cut"), "");
    for (LONG status = StatusNotProcessed; status <= StatusConnectFailed; ++status) {
        ByteBuffer reply(PageMaxSize);
        AppendStatusLines(reply, status);
        ByteBuffer page(PageMaxSize);
        ComposePage(page, reply);
        std::string name = "status-" + std::to_string(status);
        WriteBytes(dir.Path(name + ".html"), Contents(page));
        WriteBytes(dir.Path(name + ".reply"), "");
    }
    ASSERT_TRUE(WaitUntilIdle(maker));

    ChildProcess checker;
    ASSERT_TRUE(checker.Start({"/usr/bin/env", "python3",
                               std::string(HOLLIN_SOURCE_DIR) + "/tests/browser/check_pages.py",
                               dir.Path("")}));
    ProgramResult result = checker.Finish(300000);
    if (result.exitStatus == 77) {
        GTEST_SKIP() << result.out;
    }
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
}

} // namespace
