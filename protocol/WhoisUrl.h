// The dnswhois URL syntax: which server to ask, on which port, and what.
#pragma once

#include "support/TextString.h"

// The outcome of a request. 1 and 2 have page lines but nothing produces them.
typedef LONG RequestStatus;
enum : RequestStatus {
    StatusOk = 0,
    StatusNotProcessed = 1,
    StatusUnknownError = 2,
    StatusSyntaxError = 3,
    StatusWinsockFailed = 4,
    StatusDnsError = 5,
    StatusSocketError = 6,
    StatusConnectFailed = 7,
};

// Asked when a URL names no server: IANA's whois server knows every
// top-level domain and refers onwards.
extern const char DefaultWhoisServer[];
const DWORD DefaultWhoisPort = 43;

// Splits `url` (ANSI) into server, port and query. Two shapes:
//   scheme:query                          the default server, port 43
//   scheme://server[:port]/query          a port that reads as 0 or is no number is 43
//   scheme://[v6 address][:port]/query    an IPv6 literal, bracketed as in any URL
// Returns StatusOk and sets the three results, or StatusSyntaxError and
// leaves them untouched. Nothing is unescaped, trimmed or case-folded.
// `simpleShape`, when given, tells which shape the URL had.
[[nodiscard]] RequestStatus ParseWhoisUrl(const TextString& url, TextString& server, DWORD& port,
                                          TextString& query, bool* simpleShape = nullptr);

// The longest host name a server address may carry (a DNS name's limit).
const DWORD MaxServerNameLength = 253;

// Reads a server address as settings and referrals write it: `host`,
// `host:port`, `[v6]` or `[v6]:port`, `count` bytes of `text`, nothing
// around it. The host is a DNS name or an address (letters, digits, '-',
// '.', '_'; an IPv6 literal of hex digits, ':' and '.'); the port is 1 to
// 65535, `defaultPort` when absent. False for anything else: empty,
// over-long or malformed.
[[nodiscard]] bool ParseServerAddress(LPCSTR text, DWORD count, DWORD defaultPort, TextString& host,
                                      DWORD& port);

// `host` and `port` as a URL writes them: host:port, [v6]:port. Into
// `out`, which holds `size` bytes; false when it does not fit.
bool FormatServerAddress(LPCSTR host, DWORD port, LPSTR out, DWORD size);
