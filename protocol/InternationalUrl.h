// International domain names in a dnswhois URL, put into the ASCII form
// whois servers understand (IDNA: "bücher.example" becomes
// "xn--bcher-kva.example"). Done on the URL's wide text, before it is
// converted to the ANSI code page, which would turn such letters into '?'
// or into bytes of one code page that no server reads.
#pragma once

#include "platform/winapi.h"

// The URL with its query, and in the full shape its server name, in ASCII
// form where they are domain names with letters beyond ASCII; `%XX` escapes
// of UTF-8 in the query, as browsers hand such links to outside handlers,
// are decoded first. A new[] text the caller frees, or null when nothing
// changes (no such name, or IdnToAscii refuses it or is missing): then the
// URL is used as it is.
LPWSTR AsciiFormOfUrl(LPCWSTR url);
