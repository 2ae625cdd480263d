#include "protocol/SocketStream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string escaped(const std::string& text) {
    std::string out(text.size() * 5, '\0');
    out.resize(EscapeHtml(text.data(), DWORD(text.size()), &out[0]));
    return out;
}

TEST(EscapeHtml, ReplacesTheThreeCharactersWhereverTheyStand) {
    EXPECT_EQ(escaped("a<b>&c"), "a&lt;b&gt;&amp;c");
    // Each position of a long run, with bytes above 0x7F and NULs around it.
    std::string plain = "\x80\xff\x00 abcdefghijklmnopq\xfe";
    plain.push_back('\0');
    for (size_t at = 0; at <= plain.size(); ++at) {
        for (char markup : {'&', '<', '>'}) {
            std::string text = plain;
            text.insert(at, 1, markup);
            std::string entity = markup == '&' ? "&amp;" : markup == '<' ? "&lt;" : "&gt;";
            EXPECT_EQ(escaped(text), plain.substr(0, at) + entity + plain.substr(at)) << at;
        }
    }
    EXPECT_EQ(escaped(plain), plain);
}

} // namespace
