// Asking an RDAP server: which URLs may be asked, and the redirects and the
// registry's link to its registrar, over a fetcher that the request gives
// (HttpFetch with the request's time-outs and stop event) and tests replace.
#pragma once

#include "platform/winapi.h"

#include <string>

// The most bytes of an answer kept; a longer one is a failure.
const DWORD MaxRdapBody = 1024 * 1024;
// The most redirects one question follows.
const int MaxRdapRedirects = 5;
// The longest URL asked: a longer one is refused rather than cut.
const size_t MaxRdapUrlLength = 512;

extern const char RdapMediaType[];

// What one GET brought back.
struct RdapResponse {
    DWORD status = 0;
    std::string location;
    std::string body;
    std::string failedCall;
    DWORD systemError = 0;
};

// One GET, as HttpFetch does it (no redirect followed).
class RdapFetcher {
public:
    virtual HttpOutcome Fetch(const char* url, const char* accept, RdapResponse& response) = 0;

protected:
    ~RdapFetcher() = default;
};

// Whether `url` may be asked: https, or plain http to a loopback host
// (127.0.0.0/8, [::1], localhost) only, so that answers from elsewhere are
// never read without their certificate checked. A URL with user
// information, blanks or control bytes, or longer than MaxRdapUrlLength,
// is refused too.
bool IsAllowedRdapUrl(const std::string& url);

// `location` (absolute, or a path from the root) taken against `from`;
// empty when it is neither.
std::string ResolveRdapLocation(const std::string& from, const std::string& location);

// What one question got: the final response, or why there is none.
struct RdapAnswer {
    std::string url;                  // the URL first asked
    std::string finalUrl;             // after the redirects followed
    HttpOutcome outcome = HttpFailed; // of the last fetch
    DWORD status = 0;                 // its HTTP status
    std::string body;                 // its body (at most MaxRdapBody bytes)
    std::string location;             // its Location header
    std::string failure;              // plain text, when no response is shown
    std::string systemDetail;         // the failing call and its code, for HttpFailed
};

// Asks `url` with `accept`, following up to MaxRdapRedirects redirects, each
// to an allowed URL. `answer.failure` is set when it ends without a response
// to show (a refused URL, too many redirects, a transport failure).
void FetchRdap(RdapFetcher& fetcher, const std::string& url, const char* accept,
               RdapAnswer& answer);
