#include "protocol/WhoisUrl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Parsed {
    RequestStatus status;
    std::string server;
    DWORD port;
    std::string query;
};

const char untouched[] = "untouched";

Parsed parse(const char* url) {
    TextString server(untouched), query(untouched);
    DWORD port = 12345;
    RequestStatus status = ParseWhoisUrl(TextString(url), server, port, query);
    return {status, server.GetText() ? server.GetText() : "<null>", port,
            query.GetText() ? query.GetText() : "<null>"};
}

void expectParsed(const char* url, const char* server, DWORD port, const char* query) {
    Parsed result = parse(url);
    EXPECT_EQ(result.status, StatusOk) << url;
    EXPECT_EQ(result.server, server) << url;
    EXPECT_EQ(result.port, port) << url;
    EXPECT_EQ(result.query, query) << url;
}

void expectRejected(const char* url) {
    Parsed result = parse(url);
    EXPECT_EQ(result.status, StatusSyntaxError) << url;
    EXPECT_EQ(result.server, untouched) << url;
    EXPECT_EQ(result.port, 12345u) << url;
    EXPECT_EQ(result.query, untouched) << url;
}

TEST(WhoisUrl, SimpleShapeAsksTheDefaultServer) {
    expectParsed("dnswhois:example.com", DefaultWhoisServer, 43, "example.com");
    expectParsed("dnswhois:a:b:c", DefaultWhoisServer, 43, "a:b:c");
    expectParsed("anything:x/y", DefaultWhoisServer, 43, "x/y");
    expectParsed("dnswhois:ab", DefaultWhoisServer, 43, "ab");
    expectParsed("dnswhois:/a", DefaultWhoisServer, 43, "/a");
}

TEST(WhoisUrl, FullShapeNamesServerPortAndQuery) {
    expectParsed("dnswhois://whois.example.net/example.com", "whois.example.net", 43,
                 "example.com");
    expectParsed("dnswhois://127.0.0.1:4343/q", "127.0.0.1", 4343, "q");
    expectParsed("dnswhois://host/a/b/c", "host", 43, "a/b/c");
    expectParsed("dnswhois://host/", "host", 43, "");
    expectParsed("DNSWHOIS://Host/Q%20R", "Host", 43, "Q%20R");
}

TEST(WhoisUrl, PortRules) {
    expectParsed("dnswhois://host:/q", "host", 43, "q");
    expectParsed("dnswhois://host:0/q", "host", 43, "q");
    expectParsed("dnswhois://host:80abc/q", "host", 80, "q");
    expectParsed("dnswhois://host:abc/q", "host", 43, "q");
    expectParsed("dnswhois://host:70000/q", "host", 70000, "q");
    expectParsed("dnswhois://host:1:2/q", "host", 1, "q");
    expectParsed("dnswhois://:4343/q", ":4343", 43, "q");
}

TEST(WhoisUrl, BracketedIPv6Literals) {
    expectParsed("dnswhois://[::1]:4343/example.com", "::1", 4343, "example.com");
    expectParsed("dnswhois://[2001:db8::2]/q", "2001:db8::2", 43, "q");
    expectParsed("dnswhois://[::1]:/q", "::1", 43, "q");
    expectRejected("dnswhois://[]:4343/q");
    expectRejected("dnswhois://[::1/q");
    expectRejected("dnswhois://[::1]x/q");
}

TEST(WhoisUrl, ServerAddresses) {
    struct Case {
        const char* text;
        const char* host; // null: refused
        DWORD port;
    };
    const Case cases[] = {
        {"whois.example.net", "whois.example.net", 43},
        {"whois.example.net:4343", "whois.example.net", 4343},
        {"[::1]:65535", "::1", 65535},
        {"[::ffff:127.0.0.1]", "::ffff:127.0.0.1", 43},
        {"", nullptr, 0},
        {":43", nullptr, 0},
        {"host:", nullptr, 0},
        {"host:0", nullptr, 0},
        {"host:65536", nullptr, 0},
        {"host:4x", nullptr, 0},
        {"ho st", nullptr, 0},
        {"host/x", nullptr, 0},
        {"[::1]x", nullptr, 0},
        {"[g::1]", nullptr, 0},
        {"a&lt;b", nullptr, 0},
    };
    for (const Case& c : cases) {
        TextString host("before");
        DWORD port = 0;
        bool parsed = ParseServerAddress(c.text, DWORD(std::string(c.text).size()), 43, host, port);
        EXPECT_EQ(parsed, c.host != nullptr) << c.text;
        if (parsed && c.host != nullptr) {
            EXPECT_STREQ(host.GetText(), c.host);
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
    std::string longest(MaxServerNameLength, 'a');
    TextString host;
    DWORD port = 0;
    EXPECT_TRUE(ParseServerAddress(longest.c_str(), DWORD(longest.size()), 43, host, port));
    longest += 'a';
    EXPECT_FALSE(ParseServerAddress(longest.c_str(), DWORD(longest.size()), 43, host, port));
}

TEST(WhoisUrl, Rejections) {
    expectRejected("");
    expectRejected("no colon at all");
    expectRejected("dnswhois:");
    expectRejected("dnswhois:x");
    expectRejected("dnswhois://");
    expectRejected("dnswhois:a//b");
    expectRejected("dnswhois://host");
    expectRejected("dnswhois:///query");
    expectRejected("dnswhois:x//");
}

} // namespace
