// Character classes every layer reads text with: blanks, line breaks and hex
// digits, in ASCII only. Locale-free on purpose: the registry file, the
// registry script and the tree format are byte formats, and <cctype> would
// answer differently under another locale (and is undefined for negative
// chars). Each takes narrow or wide characters alike; a wide character is
// compared whole, never cut to a byte first.
//
// Portable code, the same in both builds; winapi.h brings it in, so the code
// above the platform needs no other header of this folder.
#pragma once

// A space or a tab.
template <typename Char> constexpr bool IsBlank(Char c) {
    return c == Char(' ') || c == Char('\t');
}

// A blank, a carriage return or a line feed.
template <typename Char> constexpr bool IsBlankOrLineBreak(Char c) {
    return IsBlank(c) || c == Char('\r') || c == Char('\n');
}

// 0 to 15 for a hex digit of either case, else -1.
template <typename Char> constexpr int HexDigitValue(Char c) {
    return (c >= Char('0') && c <= Char('9'))   ? int(c - Char('0'))
           : (c >= Char('a') && c <= Char('f')) ? int(c - Char('a')) + 10
           : (c >= Char('A') && c <= Char('F')) ? int(c - Char('A')) + 10
                                                : -1;
}
