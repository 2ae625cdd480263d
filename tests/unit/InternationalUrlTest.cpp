#include "protocol/InternationalUrl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Wide = std::basic_string<WCHAR>;

Wide widen(const std::u16string& text) {
    return Wide(text.begin(), text.end());
}

// The URL as the request would send it, ASCII only; "unchanged" when the
// conversion leaves it alone.
std::string asciiForm(const std::u16string& url) {
    Wide wide = widen(url);
    LPWSTR converted = AsciiFormOfUrl(wide.c_str());
    if (converted == nullptr) {
        return "unchanged";
    }
    std::string ascii;
    for (LPCWSTR c = converted; *c != 0; ++c) {
        ascii += *c < 0x80 ? char(*c) : '?';
    }
    delete[] converted;
    return ascii;
}

TEST(InternationalUrl, NamesBeyondAsciiGoOutInTheirAsciiForm) {
    EXPECT_EQ(asciiForm(u"dnswhois:b\u00fccher.example"), "dnswhois:xn--bcher-kva.example");
    EXPECT_EQ(asciiForm(u"dnswhois:B\u00dcCHER.Example"), "dnswhois:xn--bcher-kva.Example")
        << "labels beyond ASCII folded as IDNA does, ASCII ones as written";
    EXPECT_EQ(asciiForm(u"dnswhois:b%C3%BCcher.example"), "dnswhois:xn--bcher-kva.example");
    EXPECT_EQ(asciiForm(u"dnswhois://wh\u00f6is.example:4343/m\u00fcnchen.de"),
              "dnswhois://xn--whis-6qa.example:4343/xn--mnchen-3ya.de");
    EXPECT_EQ(asciiForm(u"dnswhois://whois.example/\u4f8b\u3048.jp"),
              "dnswhois://whois.example/xn--r8jz45g.jp");
}

TEST(InternationalUrl, EverythingElseIsLeftAsItIs) {
    const std::u16string urls[] = {
        u"dnswhois:example.com",
        u"dnswhois:%41.example",              // an ASCII escape, as always
        u"dnswhois:caf\u00e9 bar",            // not a domain name
        u"dnswhois:b%C3%BCcher example",      // nor is this, once decoded
        u"dnswhois:b%FF%FEcher.example",      // escapes that are no UTF-8
        u"dnswhois://[::1]:4343/example.com", // an address, not a name
        u"dnswhois:\u00fc\u00fc--x.example",  // IDNA refuses the label
        u"no colon \u00fc",
        u"dnswhois://b\u00fccher.example", // no slash: a syntax error later
    };
    for (const std::u16string& url : urls) {
        EXPECT_EQ(asciiForm(url), "unchanged") << std::string(url.begin(), url.end());
    }
}

} // namespace
