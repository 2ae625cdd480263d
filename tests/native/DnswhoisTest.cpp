// The dnswhois program: its usage, its failures, and a few whole requests
// through hollin.so against hollin's whois server.
#include "tests/whoisd/WhoisServer.h"
#include "ChildProcess.h"
#include "NativeTestSupport.h"
#include "RegistryTestSupport.h"
#include "support/ProtocolHost.h"
#include "support/SettingsOverride.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

namespace {

using Arguments = std::vector<std::string>;

ProgramResult runDnswhois(Arguments arguments) {
    return RunBuildProgram("dnswhois", std::move(arguments));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(DnswhoisProgram, HelpSaysTheOptionsAndTheExitStatuses) {
    ProgramResult help = runDnswhois({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.err, "");
    for (const char* text : {"--library PATH", "--abort-after MS", "--output FILE",
                             "DllGetClassObject", "Exit status", "3  aborted"}) {
        EXPECT_TRUE(contains(help.out, text)) << text;
    }
}

TEST(DnswhoisProgram, OptionsTakeEitherFormAndABareQueryIsADnswhoisUrl) {
    ExpectCommonOptions("dnswhois");
    TempDir dir;
    ProgramResult bare = runDnswhois(
        {"--library=" + BuildFile("hollin.so"), "--output=" + dir.Path("page"), "--", "x"});
    EXPECT_EQ(bare.exitStatus, 0) << bare.err;
    EXPECT_TRUE(contains(ReadText(dir.Path("page")), "Syntax error in the URL"))
        << "x is dnswhois:x, whose query is too short";
    EXPECT_EQ(runDnswhois({"--open", "--output", "page", "x"}).exitStatus, 2);
}

TEST(DnswhoisProgram, BadUsageIsStatusTwoWithAMessage) {
    struct Case {
        Arguments arguments;
        const char* message;
    } cases[] = {
        {{}, "no URL given"},
        {{"--library", "hollin.so"}, "no URL given"},
        {{"dnswhois:x", "--library"}, "--library needs a value"},
        {{"--abort-after", "soon", "--library", "x.so", "dnswhois:x"}, "--abort-after wants"},
        {{"--abort-after", "-1", "--library", "x.so", "dnswhois:x"}, "--abort-after wants"},
        {{"--bogus", "dnswhois:x"}, "unknown option --bogus"},
        {{"--library", "x.so", "dnswhois:x", "dnswhois:y"}, "one URL only"},
    };
    for (const Case& test : cases) {
        ProgramResult result = runDnswhois(test.arguments);
        EXPECT_EQ(result.exitStatus, 2) << test.message;
        EXPECT_TRUE(contains(result.err, test.message)) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(DnswhoisProgram, ALibraryThatCannotServeIsStatusOne) {
    TempDir dir;
    const std::string notALibrary = dir.Path("not-a-library");
    WriteBytes(notALibrary, "plain text\n");
    Dl_info libc = {};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::fclose), &libc), 0);

    struct Case {
        std::string library;
        std::string message;
    } cases[] = {
        {BuildFile("no-such-library.so"), "cannot load " + BuildFile("no-such-library.so")},
        {notALibrary, "cannot load"},
        {libc.dli_fname, "does not export DllGetClassObject"},
    };
    for (const Case& test : cases) {
        ProgramResult result = runDnswhois({"--library", test.library, "dnswhois:example.com"});
        EXPECT_EQ(result.exitStatus, 1) << test.library;
        EXPECT_TRUE(contains(result.err, test.message)) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

// --- whole requests through hollin.so -------------------------------------------

class DnswhoisThroughHollin : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.Start(0, error)) << error;
    }
    std::string Url(const std::string& query) { return UrlFor(server.port(), query); }
    ProgramResult Run(Arguments arguments) {
        arguments.insert(arguments.begin(), {"--library", BuildFile("hollin.so")});
        return runDnswhois(arguments);
    }

    whoisd::WhoisServer server;
};

TEST_F(DnswhoisThroughHollin, WritesThePageBytesUnchanged) {
    ProgramResult result = Run({Url("example.com")});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "") << "no warning: the library can be unloaded afterwards";
    EXPECT_EQ(result.out.compare(0, 6, "<HTML>"), 0) << result.out;
    EXPECT_TRUE(contains(result.out, "   Domain Name: EXAMPLE.COM\r\n")) << "CR LF kept";
    EXPECT_TRUE(contains(result.out, "&gt;&gt;&gt; Last update of whois database"));
    EXPECT_TRUE(contains(result.out, "</HTML>"));

    std::vector<whoisd::Received> received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, "example.com\n") << "the query and one line feed";

    TempDir dir;
    const std::string output = dir.Path("page");
    ProgramResult toFile = Run({"--output", output, Url("example.com")});
    EXPECT_EQ(toFile.exitStatus, 0);
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadText(output), result.out);
}

// --open with $BROWSER naming a stand-in, in a runtime folder of the test's own.
class DnswhoisOpen : public DnswhoisThroughHollin {
protected:
    void SetUp() override {
        DnswhoisThroughHollin::SetUp();
        setenv("XDG_RUNTIME_DIR", runtime.Path("").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("BROWSER");
    }
    size_t PagesLeft() {
        return size_t(std::distance(std::filesystem::directory_iterator(runtime.Path("")),
                                    std::filesystem::directory_iterator()));
    }

    TempDir runtime;
    TempDir seen;
};

TEST_F(DnswhoisOpen, HandsTheBrowserAPrivateFileWithTheWholePage) {
    setenv("BROWSER",
           ("no-such-browser-here:cp %s " + seen.Path("page") + " && stat -c %a %s >" +
            seen.Path("mode"))
               .c_str(),
           1);
    ProgramResult opened = Run({"--open", Url("example.com")});
    EXPECT_EQ(opened.exitStatus, 0) << opened.err;
    EXPECT_EQ(ReadText(seen.Path("mode")), "600\n");
    EXPECT_EQ(ReadText(seen.Path("page")), Run({Url("example.com")}).out);
    EXPECT_EQ(PagesLeft(), 1u) << "the browser reads the file after dnswhois ends";
}

TEST_F(DnswhoisOpen, ABrowserThatFailsIsStatusFourAndLeavesNoFile) {
    setenv("BROWSER", "exit 7", 1);
    ProgramResult failed = Run({"--open", Url("example.com")});
    EXPECT_EQ(failed.exitStatus, 4);
    EXPECT_TRUE(contains(failed.err, "'exit 7' failed (exit status 7)")) << failed.err;
    EXPECT_EQ(PagesLeft(), 0u);

    ProgramResult aborted = Run({"--open", "--abort-after", "100", Url("silent")});
    EXPECT_EQ(aborted.exitStatus, 3);
    EXPECT_EQ(PagesLeft(), 0u) << "no page, no file";
}

TEST_F(DnswhoisThroughHollin, AbortAfterGivesUpOnASilentServer) {
    ProgramResult result = Run({"--abort-after", "200", Url("silent")});
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.out, "") << "no page";
    EXPECT_TRUE(contains(result.err, "no completion within 200 ms")) << result.err;
    EXPECT_FALSE(contains(result.err, "DllCanUnloadNow")) << result.err;
}

TEST_F(DnswhoisThroughHollin, TraceTellsOnWhichThreadTheSinkWasCalled) {
    ProgramResult syntaxError = Run({"--trace", "dnswhois:"});
    EXPECT_EQ(syntaxError.exitStatus, 0) << "a failure is a page too";
    EXPECT_TRUE(contains(syntaxError.err, "sink: ReportResult(0x00000000, 0, null) [host thread, "
                                          "inside Start]"))
        << syntaxError.err;

    ProgramResult served = Run({"--trace", Url("close")});
    EXPECT_EQ(served.exitStatus, 0);
    EXPECT_TRUE(contains(served.err, "sink: ReportProgress(13, \"text/html\") [host thread, "
                                     "inside Start]"))
        << served.err;
    EXPECT_TRUE(contains(served.err, "sink: ReportResult(0x00000000, 0, null) [another thread]"))
        << served.err;
}

TEST(DnswhoisProgram, FollowsAChainAcrossTheWhoisServersPorts) {
    TempDir dir;
    WriteBytes(dir.Path("iana"), "@@ example.com\nrefer: 127.0.0.1:${port2}\n");
    WriteBytes(dir.Path("registry"),
               "@@ example.com\nRegistrar WHOIS Server: [::ffff:127.0.0.1]:${port3}\n");
    // The registrar's own reply: the built-in one names a server off this machine.
    WriteBytes(dir.Path("registrar"), "@@ example.com\nRegistrant: Example Holder\n");
    ChildProcess whoisd;
    ASSERT_TRUE(whoisd.Start({BuildFile("hollin-whoisd"), "--port-file", dir.Path("ports"),
                              "--port", "0", "--replies", dir.Path("iana"), "--port", "0",
                              "--replies", dir.Path("registry"), "--port", "0", "--replies",
                              dir.Path("registrar"), "--record", dir.Path("registrar-record")}));
    int ports[3] = {};
    for (int wait = 0; wait < 500 && ports[2] == 0; ++wait) {
        usleep(10000);
        std::sscanf(ReadText(dir.Path("ports")).c_str(), "%d %d %d", &ports[0], &ports[1],
                    &ports[2]);
    }
    ASSERT_GT(ports[2], 0) << "the port file names the three ports";

    SettingsOverride settings;
    settings.SetDefaultServer(WORD(ports[0]));
    ProgramResult result =
        runDnswhois({"--library", BuildFile("hollin.so"), "dnswhois:example.com"});
    whoisd.Signal(SIGTERM);
    EXPECT_EQ(whoisd.Finish().exitStatus, 0);
    const std::string lastServer = "[::ffff:127.0.0.1]:" + std::to_string(ports[2]);
    const std::string expected = "<B>Reply from 127.0.0.1:" + std::to_string(ports[0]) +
                                 "</B>\nrefer: 127.0.0.1:" + std::to_string(ports[1]) +
                                 "\n<B>Reply from 127.0.0.1:" + std::to_string(ports[1]) +
                                 "</B>\nRegistrar WHOIS Server: " + lastServer +
                                 "\n<B>Reply from " + lastServer +
                                 "</B>\nRegistrant: Example Holder\n</PRE>";
    EXPECT_TRUE(contains(result.out, expected)) << result.out;
    EXPECT_EQ(ReadText(dir.Path("registrar-record")), "\"example.com\\n\"\n")
        << "the registrar was asked the same query, once";
}

} // namespace

namespace {

// --- finding the handler through the registry, as a browser does ---------------

class DnswhoisThroughTheRegistry : public RegistryTest {};

TEST_F(DnswhoisThroughTheRegistry, FindsTheRegisteredLibraryByTheUrlsScheme) {
    ProgramResult none = runDnswhois({"dnswhois:x"});
    EXPECT_EQ(none.exitStatus, 1);
    EXPECT_TRUE(contains(none.err, "no handler is registered for the scheme \"dnswhois\""))
        << none.err;

    ASSERT_EQ(RunBuildProgram("regsvr", {BuildFile("hollin.so")}).exitStatus, 0);
    ProgramResult page = runDnswhois({"dnswhois:x"});
    EXPECT_EQ(page.exitStatus, 0) << page.err;
    EXPECT_TRUE(contains(page.out, "Syntax error in the URL")) << page.out;
    EXPECT_EQ(runDnswhois({"other:x"}).exitStatus, 1) << "only the registered scheme";

    ASSERT_EQ(RunBuildProgram("regsvr", {"-u", BuildFile("hollin.so")}).exitStatus, 0);
    ProgramResult unregistered = runDnswhois({"dnswhois:x"});
    EXPECT_EQ(unregistered.exitStatus, 1);
    EXPECT_TRUE(contains(unregistered.err, "names no class")) << unregistered.err;
}

TEST_F(DnswhoisThroughTheRegistry, AHandlerWhoseLibraryIsGoneIsStatusOne) {
    std::string copy = copyFile(BuildFile("hollin.so"), temporaryFolder.Path("hollin.so"));
    ASSERT_EQ(RunBuildProgram("regsvr", {copy}).exitStatus, 0);
    ASSERT_EQ(unlink(copy.c_str()), 0);
    ProgramResult result = runDnswhois({"dnswhois:x"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(contains(result.err, "cannot load " + copy)) << result.err;
    EXPECT_EQ(result.out, "");
}

} // namespace
