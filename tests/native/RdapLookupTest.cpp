// RDAP in the lookup chain, against the project's whois and RDAP servers on
// loopback: the bootstrap files and sample answers of tests/rdapd/samples.
#include "RdapServer.h"
#include "protocol/LocalFileProtocol.h"
#include "protocol/ResultPage.h"
#include "support/ModuleLock.h"
#include "support/ProtocolHost.h"
#include "support/SettingsOverride.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Action = LoopbackServer::Action;

bool moduleIdle() {
    return ModuleLockCount() == 0;
}

const ObjectMaker maker = {"StaticLibrary", LocalFileProtocol::Create, moduleIdle};

// Worker threads that asked over TLS hold OpenSSL's per-thread state, which
// it frees when they end. This program links the handler rather than loading
// it, so nothing unloads it to send its idle threads away: they are sent away
// here, before OpenSSL's exit-time cleanup would orphan that state.
class IdleThreadsLeaveBeforeExit : public testing::Environment {
public:
    void TearDown() override {
        for (int wait = 0; wait < 500 && !ReleaseIdleThreads(); ++wait) {
            Sleep(10);
        }
    }
};
testing::Environment* const idleThreadsLeave =
    testing::AddGlobalTestEnvironment(new IdleThreadsLeaveBeforeExit);

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string serverLine(const LoopbackServer& server) {
    return "<B>Reply from 127.0.0.1:" + std::to_string(server.Port()) + "</B>\n";
}

// A default server whose record names no whois server for the zone.
const char NoWhoisServer[] = "domain: EXAMPLE\r\nwhois:\r\n";

class RdapLookup : public testing::Test {
protected:
    void SetUp() override { ASSERT_GT(rdap.Port(), 0) << "hollin-rdapd announced its port"; }
    void AskFirst(const LoopbackServer& whois) {
        settings.SetDefaultServer(whois.Port());
        settings.SetText("RdapBootstrap", rdap.Url("http", "/bootstrap/"));
    }
    std::string Open(const std::string& url) {
        Browser browser(maker);
        return browser.Open(url);
    }
    std::string AnswerLine(const std::string& path) const {
        return "<B>RDAP answer from " + rdap.Url("http", path) + "</B>\n";
    }

    TempDir folder;
    RdapServer rdap{std::string(HOLLIN_SOURCE_DIR) + "/tests/rdapd/samples/routes.json",
                    folder.Path("requests.log")};
    SettingsOverride settings;
};

TEST_F(RdapLookup, AZoneWithoutAWhoisServerGetsTheRegistrysAndTheRegistrarsAnswers) {
    LoopbackServer whois(Action::Reply, NoWhoisServer);
    AskFirst(whois);
    std::string page = Open("dnswhois:f\xf3o.example");
    const std::string registrar = AnswerLine("/registrar/domain/xn--fo-5ja.example");
    EXPECT_EQ(page.substr(0, page.find(registrar) + registrar.size()),
              PageHeader + serverLine(whois) + NoWhoisServer +
                  AnswerLine("/registry/domain/xn--fo-5ja.example") +
                  "Name: xn--fo-5ja.example\n"
                  "Unicode name: f\xc3\xb3o.example\n"
                  "Handle: XXXX\n"
                  "Status: active, client transfer prohibited\n"
                  "Registration: 1990-12-31T23:59:59Z\n"
                  "Expiration: 2016-12-31T23:59:59Z\n"
                  "Event last update of RDAP database: 2024-01-01T00:00:00Z\n"
                  "Entity: 292 (registrar)\n"
                  "  Name: Example Registrar\n"
                  "  IANA Registrar ID: 292\n"
                  "Name server: ns1.example.com\n"
                  "Name server: ns2.example.com\n"
                  "DNSSEC: unsigned\n"
                  "Notice: Terms of Use\n"
                  "  Service subject to the terms of use of this loopback registry.\n" +
                  registrar);
    EXPECT_TRUE(contains(page, "Entity: XXXX (registrant)\n  Name: Joe User\n"
                               "  Organisation: Example\n  E-mail: joe.user@example.com\n"));
    EXPECT_EQ(page.substr(page.size() - PageTrailer.size()), PageTrailer);
    EXPECT_EQ(whois.Received(), std::vector<std::string>{"xn--fo-5ja.example\n"});
    EXPECT_EQ(rdap.Log(), "GET /bootstrap/dns.json application/json\n"
                          "GET /registry/domain/xn--fo-5ja.example application/rdap+json\n"
                          "GET /registrar/domain/xn--fo-5ja.example application/rdap+json\n");

    whois.SetReply(NoWhoisServer);
    EXPECT_EQ(Open("dnswhois:elsewhere.invalid"),
              PageHeader + serverLine(whois) + NoWhoisServer + PageTrailer)
        << "no RDAP service known: the page port 43 gave";
}

TEST_F(RdapLookup, ARefusedReferralFallsBackToRdapKeepingTheEarlierReplies) {
    WORD unused = LoopbackServer::UnusedPort();
    std::string refer = "refer: 127.0.0.1:" + std::to_string(unused) + "\r\n";
    LoopbackServer whois(Action::Reply, refer);
    AskFirst(whois);
    std::string page = Open("dnswhois:moved.example");
    std::string head = PageHeader + serverLine(whois) + refer + StatusLines(StatusConnectFailed) +
                       "<p><I>The server that failed: 127.0.0.1:" + std::to_string(unused) +
                       "</I></p>\n" + AnswerLine("/registry/domain/moved.example") +
                       "<I>Redirected to " + rdap.Url("http", "/thick/domain/xn--fo-5ja.test") +
                       "</I>\nName: xn--fo-5ja.example\n";
    EXPECT_EQ(page.substr(0, head.size()), head);
    EXPECT_EQ(page.substr(page.size() - PageTrailer.size()), PageTrailer);
}

TEST_F(RdapLookup, PreferRdapAsksRdapFirstForNamesAddressesAndAsNumbers) {
    LoopbackServer whois(Action::Reply, "from port 43\n");
    AskFirst(whois);
    settings.SetNumber("PreferRdap", 1);
    std::string v4 = Open("dnswhois:192.0.2.1");
    EXPECT_TRUE(contains(v4, AnswerLine("/rir/ip/192.0.2.1") + "Name: NET-RTR-1\nHandle: XXXX-RIR\n"
                                                               "Range: 192.0.2.0 - 192.0.2.255\n"))
        << v4;
    EXPECT_TRUE(contains(Open("dnswhois:2001:db8::1"), AnswerLine("/rir/ip/2001:db8::1")));
    std::string as = Open("dnswhois:AS65536");
    EXPECT_TRUE(contains(as, AnswerLine("/rir/autnum/65536") +
                                 "Name: AS-RTR-1\nHandle: XXXX-RIR\nRange: AS65536 - AS65541\n"))
        << as;
    EXPECT_TRUE(contains(Open("dnswhois:f\xf3o.test"), "Name server: ns1.example.com"));
    EXPECT_TRUE(whois.Received().empty()) << "port 43 was not asked";

    EXPECT_EQ(Open("dnswhois:elsewhere.invalid"),
              PageHeader + serverLine(whois) + "from port 43\n" + PageTrailer)
        << "no RDAP service known: port 43 as before";
    Browser chosen(maker);
    EXPECT_EQ(chosen.Open(UrlFor(whois, "192.0.2.1")), PageHeader + "from port 43\n" + PageTrailer)
        << "the full shape asks the server it names";
}

TEST_F(RdapLookup, HostileAndBrokenAnswersGiveAWholePageWithAFailureLine) {
    LoopbackServer whois(Action::Reply, NoWhoisServer);
    AskFirst(whois);
    const std::pair<const char*, const char*> cases[] = {
        {"notjson", "Not an RDAP answer (HTTP status 200): &lt;html&gt;&lt;script&gt;"},
        {"deep", "nested too deeply"},
        {"huge", "The RDAP answer is larger than 1 MiB."},
        {"broken", "(HTTP status 500): Internal &lt;error&gt; &amp; more"},
        {"missing", "(HTTP status 404): {"},
        {"loop", "The RDAP server redirected more than 5 times."},
        {"away", "Refused: RDAP is asked over https, or plain http to a loopback host only"},
    };
    for (const auto& [name, failure] : cases) {
        std::string page = Open(std::string("dnswhois:") + name + ".example");
        EXPECT_TRUE(contains(page, "<p><B>RDAP gave no answer</B></p>\n<p><I>")) << page;
        EXPECT_TRUE(contains(page, failure)) << page;
        EXPECT_EQ(page.substr(page.size() - PageTrailer.size()), PageTrailer);
        EXPECT_LE(page.size(), PageMaxSize);
    }
    EXPECT_FALSE(contains(rdap.Log(), "away.example application/rdap+json\nGET"))
        << "the plain http URL off loopback is never asked";
}

TEST_F(RdapLookup, AbortEndsAFetchFromASilentServer) {
    LoopbackServer whois(Action::Reply, NoWhoisServer);
    AskFirst(whois);
    settings.SetNumber("ReceiveTimeout", WhoisSettings::MaxTimeout);
    Browser browser(maker);
    browser.Start("dnswhois:silent.example");
    for (int wait = 0; wait < 2000 && !contains(rdap.Log(), "silent.example"); ++wait) {
        Sleep(10);
    }
    ASSERT_TRUE(contains(rdap.Log(), "silent.example"));
    EXPECT_EQ(browser.protocol->Abort(E_ABORT, 0), S_OK);
    browser.Release();
    EXPECT_TRUE(WaitUntilIdle(maker)) << "the worker ended without waiting out its time-out";
    EXPECT_EQ(browser.sink.resultReports + browser.sink.otherReports, 0);
}

TEST(RdapOverTls, TheAnswerIsReadOnlyWhenItsAuthorityIsGiven) {
    if (!RunShell("command -v openssl")) {
        GTEST_SKIP() << "openssl is not installed: the test cannot make its certificates";
    }
    TempDir folder;
    ASSERT_TRUE(MakeTestCertificates(folder));
    TempDir secureFolder;
    RdapServer secure(secureFolder,
                      R"({"/domain/xn--fo-5ja.test": {"body": "{\"objectClassName\": \"domain\", )"
                      R"(\"ldhName\": \"xn--fo-5ja.test\"}"}})",
                      {"--tls", folder.Path("server.pem"), folder.Path("server.key")});
    ASSERT_GT(secure.Port(), 0);
    RdapServer bootstrap(folder, R"({"/dns.json": {"body": "{\"services\": [[[\"test\"], )"
                                 R"([\")" +
                                     secure.Url("https", "/") + R"(\"]]]}"}})");
    ASSERT_GT(bootstrap.Port(), 0);
    LoopbackServer whois(Action::Reply, "never asked\n");
    SettingsOverride settings;
    settings.SetDefaultServer(whois.Port());
    settings.SetText("RdapBootstrap", bootstrap.Url("http", "/"));
    settings.SetNumber("PreferRdap", 1);

    Browser untrusted(maker);
    std::string refused = untrusted.Open("dnswhois:xn--fo-5ja.test");
    EXPECT_TRUE(contains(refused, "The RDAP server's certificate or TLS handshake was refused."))
        << refused;
    EXPECT_FALSE(contains(refused, "Name: xn--fo-5ja.test"));

    settings.SetText("RdapCaFile", folder.Path("ca.pem"));
    Browser trusted(maker);
    EXPECT_TRUE(contains(trusted.Open("dnswhois:xn--fo-5ja.test"),
                         "<B>RDAP answer from " + secure.Url("https", "/domain/xn--fo-5ja.test") +
                             "</B>\nName: xn--fo-5ja.test\n"));
}

} // namespace
