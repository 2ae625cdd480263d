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
// Returns StatusOk and sets the three results, or StatusSyntaxError and
// leaves them untouched. Nothing is unescaped, trimmed or case-folded.
[[nodiscard]] RequestStatus ParseWhoisUrl(const TextString& url, TextString& server, DWORD& port,
                                          TextString& query);
