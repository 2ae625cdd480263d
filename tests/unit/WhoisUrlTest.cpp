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
