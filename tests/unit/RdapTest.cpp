// RDAP without a network: the URL rules, the bootstrap files, redirects and
// the page, over a fetcher that answers from a table.
#include "protocol/RdapBootstrap.h"
#include "protocol/RdapPage.h"
#include "protocol/ResultPage.h"
#include "support/ProtocolHost.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct TableFetcher : RdapFetcher {
    std::map<std::string, RdapResponse> answers;
    std::vector<std::string> asked;

    HttpOutcome Fetch(const char* url, const char*, RdapResponse& response) override {
        asked.emplace_back(url);
        auto found = answers.find(url);
        if (found == answers.end()) {
            return HttpConnectFailed;
        }
        response = found->second;
        return HttpDone;
    }
    void Serve(const std::string& url, const std::string& body, DWORD status = 200,
               const std::string& location = "") {
        answers[url] = RdapResponse{status, location, body, "", 0};
    }
};

RdapQuestion question(const char* query) {
    RdapQuestion asked;
    EXPECT_TRUE(ClassifyRdapQuestion(query, asked)) << query;
    return asked;
}

std::string pageOf(const RdapAnswer& answer, std::string* related = nullptr) {
    SocketStream stream;
    WriteRdapAnswer(stream, answer, related);
    return Contents(*stream.GetIncoming());
}

RdapAnswer answerOf(const std::string& body, DWORD status = 200) {
    RdapAnswer answer;
    answer.url = answer.finalUrl = "https://rdap.example/domain/example.com";
    answer.outcome = HttpDone;
    answer.status = status;
    answer.body = body;
    return answer;
}

TEST(Rdap, OnlyHttpsOrPlainHttpToLoopbackIsAsked) {
    for (const char* allowed :
         {"https://rdap.example/", "HTTPS://rdap.example:8443/x?y=1", "http://127.0.0.1:8080/",
          "http://127.1.2.3/", "http://[::1]:80/x", "http://localhost/"}) {
        EXPECT_TRUE(IsAllowedRdapUrl(allowed)) << allowed;
    }
    for (const char* refused :
         {"http://rdap.example/", "http://127.0.0.1.evil.example/", "http://127.0.0.1@evil/",
          "http://[::2]/", "http://128.0.0.1/", "ftp://127.0.0.1/", "https://a b/", "https:///x",
          "https://[::1/", "rdap.example/domain/x"}) {
        EXPECT_FALSE(IsAllowedRdapUrl(refused)) << refused;
    }
    EXPECT_FALSE(IsAllowedRdapUrl("https://rdap.example/" + std::string(600, 'a')));
    EXPECT_EQ(ResolveRdapLocation("http://127.0.0.1:9/a/b", "/c?d"), "http://127.0.0.1:9/c?d");
    EXPECT_EQ(ResolveRdapLocation("http://127.0.0.1:9/a", "https://x/"), "https://x/");
    EXPECT_EQ(ResolveRdapLocation("http://127.0.0.1:9/a", "c"), "");
    EXPECT_EQ(ResolveRdapLocation("http://127.0.0.1:9/a", "//evil/"), "");
}

TEST(Rdap, QuestionsAreDomainsAddressesOrAsNumbers) {
    EXPECT_EQ(RdapQuestionPath(question("Example.COM.")), "domain/example.com");
    EXPECT_EQ(RdapQuestionPath(question("192.0.2.1")), "ip/192.0.2.1");
    EXPECT_EQ(RdapQuestionPath(question("2001:DB8::1")), "ip/2001:db8::1");
    EXPECT_EQ(RdapQuestionPath(question("::ffff:192.0.2.1")), "ip/::ffff:192.0.2.1");
    EXPECT_EQ(RdapQuestionPath(question("as64496")), "autnum/64496");
    RdapQuestion none;
    for (const char* refused :
         {"", "a b", "192.0.2.0/24", "fe80::1%eth0", "1::2::3", "-T dn x", "x..y", "<b>"}) {
        EXPECT_FALSE(ClassifyRdapQuestion(refused, none)) << refused;
    }
}

TEST(Rdap, TheBootstrapPicksTheMostSpecificServiceAndHttps) {
    RdapJson dns;
    ASSERT_EQ(ParseRdapJson(R"({"services": [
        [["example", "COM"], ["http://rdap.example/", "https://rdap.example/v1"]],
        [["co.example"], ["http://127.0.0.1:1/"]],
        [["bad"], ["http://rdap.example/"]], 7, [[1], "x"]]})",
                            dns),
              RdapParse::Parsed);
    EXPECT_EQ(FindRdapBase(dns, question("a.co.example")), "http://127.0.0.1:1/");
    EXPECT_EQ(FindRdapBase(dns, question("co.example")), "http://127.0.0.1:1/");
    EXPECT_EQ(FindRdapBase(dns, question("x.example")), "https://rdap.example/v1/");
    EXPECT_EQ(FindRdapBase(dns, question("x.com")), "https://rdap.example/v1/");
    EXPECT_EQ(FindRdapBase(dns, question("xcom")), "");
    EXPECT_EQ(FindRdapBase(dns, question("x.bad")), "") << "no allowed URL";

    RdapJson ip;
    ASSERT_EQ(ParseRdapJson(R"({"services": [
        [["192.0.0.0/8", "2001:db8::/32"], ["https://wide/"]],
        [["192.0.2.0/24"], ["https://narrow/"]],
        [["2001:db8:1::/48", "192.0.2.0/33"], ["https://narrow6/"]]]})",
                            ip),
              RdapParse::Parsed);
    EXPECT_EQ(FindRdapBase(ip, question("192.0.2.1")), "https://narrow/");
    EXPECT_EQ(FindRdapBase(ip, question("192.0.3.1")), "https://wide/");
    EXPECT_EQ(FindRdapBase(ip, question("10.0.0.1")), "");
    EXPECT_EQ(FindRdapBase(ip, question("2001:db8:1::5")), "https://narrow6/");
    EXPECT_EQ(FindRdapBase(ip, question("2001:db8:2::5")), "https://wide/");

    RdapJson asn;
    ASSERT_EQ(ParseRdapJson(R"({"services": [[["64496-65000"], ["https://wide/"]],
        [["64500-64510", "x-1"], ["https://narrow/"]]]})",
                            asn),
              RdapParse::Parsed);
    EXPECT_EQ(FindRdapBase(asn, question("AS64505")), "https://narrow/");
    EXPECT_EQ(FindRdapBase(asn, question("AS64511")), "https://wide/");
    EXPECT_EQ(FindRdapBase(asn, question("AS1")), "");
}

TEST(Rdap, BootstrapFilesAreKeptForADayAndAFailedRefreshKeepsThem) {
    TableFetcher fetcher;
    const std::string dns = "http://127.0.0.1:1/boot/dns.json";
    fetcher.Serve(dns, R"({"services": [[["example"], ["https://one/"]]]})");
    RdapBootstrapCache cache;
    std::string base;
    std::string failure;
    auto find = [&](DWORD now) {
        base.clear();
        return cache.FindService(fetcher, "http://127.0.0.1:1/boot", question("a.example"), now,
                                 base, failure);
    };
    EXPECT_EQ(find(1000), RdapBootstrapCache::Lookup::Found);
    EXPECT_EQ(base, "https://one/");
    fetcher.Serve(dns, R"({"services": [[["example"], ["https://two/"]]]})");
    find(2000);
    EXPECT_EQ(base, "https://one/") << "held";
    find(1000 + RdapBootstrapCache::RefreshAfter);
    EXPECT_EQ(base, "https://two/") << "fetched again after a day";
    fetcher.answers.clear();
    EXPECT_EQ(find(2000 + 2 * RdapBootstrapCache::RefreshAfter), RdapBootstrapCache::Lookup::Found);
    EXPECT_EQ(base, "https://two/") << "a failed refresh keeps the old file";
    EXPECT_EQ(fetcher.asked.size(), 3u);
    find(3000 + 2 * RdapBootstrapCache::RefreshAfter);
    EXPECT_EQ(fetcher.asked.size(), 3u) << "and tries again only later";

    EXPECT_EQ(
        cache.FindService(fetcher, "http://127.0.0.1:2/", question("a.example"), 0, base, failure),
        RdapBootstrapCache::Lookup::Unavailable);
    EXPECT_EQ(failure, "The RDAP server could not be connected to.");
    fetcher.Serve("http://127.0.0.1:3/dns.json", "not json");
    EXPECT_EQ(
        cache.FindService(fetcher, "http://127.0.0.1:3/", question("a.example"), 0, base, failure),
        RdapBootstrapCache::Lookup::Unavailable);
    EXPECT_EQ(
        cache.FindService(fetcher, "http://rdap.example/", question("a.example"), 0, base, failure),
        RdapBootstrapCache::Lookup::Unavailable);
    EXPECT_EQ(failure.rfind("Refused", 0), 0u) << failure;
}

TEST(Rdap, RedirectsAreFollowedFiveTimesAtMostAndOnlyToAllowedUrls) {
    TableFetcher fetcher;
    fetcher.Serve("http://127.0.0.1:1/a", "", 301, "/b");
    fetcher.Serve("http://127.0.0.1:1/b", "", 307, "http://[::1]:2/c");
    fetcher.Serve("http://[::1]:2/c", "{}");
    RdapAnswer answer;
    FetchRdap(fetcher, "http://127.0.0.1:1/a", RdapMediaType, answer);
    EXPECT_EQ(answer.failure, "");
    EXPECT_EQ(answer.finalUrl, "http://[::1]:2/c");
    EXPECT_EQ(answer.body, "{}");

    fetcher.Serve("http://127.0.0.1:1/loop", "", 302, "/loop");
    FetchRdap(fetcher, "http://127.0.0.1:1/loop", RdapMediaType, answer);
    EXPECT_EQ(answer.failure, "The RDAP server redirected more than 5 times.");
    EXPECT_EQ(fetcher.asked.size(), 3u + 6u);

    fetcher.Serve("http://127.0.0.1:1/away", "", 302, "http://rdap.example/x");
    FetchRdap(fetcher, "http://127.0.0.1:1/away", RdapMediaType, answer);
    EXPECT_EQ(answer.failure.rfind("Refused", 0), 0u);
    EXPECT_EQ(fetcher.asked.back(), "http://127.0.0.1:1/away") << "never asked";
}

TEST(Rdap, AnAnswerIsShownInReadingOrderEscaped) {
    std::string related;
    EXPECT_EQ(pageOf(answerOf(R"({"objectClassName": "domain", "ldhName": "a.example",
        "unknownMember": {"ignored": [1]}, "status": "not a list",
        "events": [{"eventAction": "last changed", "eventDate": "2"},
                   {"eventAction": "registration", "eventDate": "1"}],
        "entities": [{"roles": ["registrar"], "vcardArray": ["vcard", [["fn", {}, "text", "<J>"]]],
          "entities": [{"handle": "H", "entities": [{"entities": [{"handle": "too deep"}]}]}]}],
        "remarks": [{"title": "R", "description": ["line\r\ntwo & more", 7, {}]}],
        "links": [{"rel": "related", "type": "application/rdap+json", "href": "https://r/d"}]})"),
                     &related),
              "<B>RDAP answer from https://rdap.example/domain/example.com</B>\n"
              "Name: a.example\n"
              "Registration: 1\n"
              "Last changed: 2\n"
              "Entity: (registrar)\n"
              "  Name: &lt;J&gt;\n"
              "  Entity: H\n"
              "    Entity: (no handle)\n"
              "Remark: R\n"
              "  line  two &amp; more\n"
              "  7\n");
    EXPECT_EQ(related, "https://r/d");
}

TEST(Rdap, BrokenAnswersGiveAFailureLine) {
    const std::string head = "<B>RDAP answer from https://rdap.example/domain/example.com</B>\n"
                             "<p><B>RDAP gave no answer</B></p>\n<p><I>";
    EXPECT_EQ(pageOf(answerOf(R"({"errorCode": 404, "title": "<Not found>"})", 404)),
              head + "The RDAP server refused the question (HTTP status 404): {\"errorCode\": "
                     "404, \"title\": \"&lt;Not found&gt;\"}</I></p>\n");
    EXPECT_EQ(pageOf(answerOf("<html>" + std::string(200, 'x'))),
              head + "Not an RDAP answer (HTTP status 200): &lt;html&gt;" + std::string(94, 'x') +
                  "...</I></p>\n");
    EXPECT_EQ(pageOf(answerOf(R"({"handle": "no class name"})")),
              head + "Not an RDAP answer (HTTP status 200): {\"handle\": \"no class "
                     "name\"}</I></p>\n");
    EXPECT_EQ(pageOf(answerOf(std::string(100000, '[') + std::string(100000, ']'))),
              head + "The RDAP answer is nested too deeply to be read.</I></p>\n");
    RdapAnswer refused = answerOf("");
    refused.failure = "The RDAP server could not be connected to.";
    EXPECT_EQ(pageOf(refused), head + refused.failure + "</I></p>\n");
}

TEST(Rdap, AnAnswerLargerThanThePageIsCutCleanly) {
    std::string notices;
    for (int i = 0; i < 3000; ++i) {
        notices += std::string(i == 0 ? "" : ",") + R"({"title": "<t>", "description": ["d&d"]})";
    }
    SocketStream stream;
    WriteRdapAnswer(stream,
                    answerOf(R"({"objectClassName": "domain", "notices": [)" + notices + "]}"),
                    nullptr);
    ASSERT_TRUE(stream.WasCut());
    AppendCutNotice(*stream.GetIncoming());
    ByteBuffer page(PageMaxSize);
    ComposePage(page, *stream.GetIncoming());
    std::string text = Contents(page);
    EXPECT_LE(text.size(), PageMaxSize);
    EXPECT_EQ(text.substr(text.size() - PageTrailer.size()), PageTrailer);
    EXPECT_EQ(text.find('<', PageHeader.size() + 70), text.find("<p><B>The reply was cut"))
        << "nothing from the server unescaped";
}

} // namespace
