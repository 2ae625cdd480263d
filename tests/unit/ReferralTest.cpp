#include "protocol/Referral.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "host port" of the referral in `reply`, or "none".
std::string referralIn(const std::string& reply) {
    TextString host;
    DWORD port = 0;
    if (!FindReferral(reply.data(), DWORD(reply.size()), host, port)) {
        return "none";
    }
    return std::string(host.GetText()) + " " + std::to_string(port);
}

TEST(Referral, TheThreeStylesWithPortsCaseAndBlanks) {
    struct Case {
        const char* reply;
        const char* expected;
    };
    const Case cases[] = {
        {"domain: COM\nrefer: whois.verisign-grs.com\n", "whois.verisign-grs.com 43"},
        {"whois:        whois.nic.example\n", "whois.nic.example 43"},
        {"   Registrar WHOIS Server: whois.registrar.example\r\n", "whois.registrar.example 43"},
        {"REGISTRAR whois SERVER:whois.r.example:4343\r\n", "whois.r.example 4343"},
        {"ReferralServer: whois://whois.ripe.net\n", "whois.ripe.net 43"},
        {"referralserver: WHOIS://[::1]:4343/\r\n", "::1 4343"},
        {"\trefer:\t127.0.0.1:4344 \t\r\n", "127.0.0.1 4344"},
        {"refer: first.example\nrefer: second.example\n", "first.example 43"},
        {"Domain Name: x\r\nRegistrar WHOIS Server: last.example", "last.example 43"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(referralIn(c.reply), c.expected) << c.reply;
    }
}

TEST(Referral, WhatIsNotFollowed) {
    const char* replies[] = {
        "",
        "no referral here\n",
        "refer:\n",
        "refer:   \r\n",
        "ReferralServer: rwhois://rwhois.example.net:4321\n",
        "ReferralServer: whois.example.net\n",
        "referrer: whois.example.net\n",
        "x refer: whois.example.net\n",
        "refer: whois.example.net extra words\n",
        "refer: host:0\nrefer: host:99999\nrefer: [::1\n",
        "refer: &lt;script&gt;.example\n",
        "Registrar WHOIS Server: http://whois.example.net/\n",
    };
    for (const char* reply : replies) {
        EXPECT_EQ(referralIn(reply), "none") << reply;
    }
    std::string longName = "refer: " + std::string(300, 'a') + "\n";
    EXPECT_EQ(referralIn(longName), "none") << "a name longer than DNS allows";
    std::string longLine = "refer: a.example" + std::string(MaxReferralLineLength, ' ') + "\n";
    EXPECT_EQ(referralIn(longLine + "refer: b.example\n"), "b.example 43")
        << "an over-long line is skipped, the next one read";
    std::string withNul("refer: a\0b.example\nrefer: c.example\n", 36);
    EXPECT_EQ(referralIn(withNul), "c.example 43");
}

} // namespace
