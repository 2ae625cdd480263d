#include "protocol/RdapClient.h"

#include <cstdio>
#include <cstring>

const char RdapMediaType[] = "application/rdap+json";

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
    size_t length = std::strlen(prefix);
    if (text.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (lowerAscii(text[i]) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// The length of the scheme with its "://" ("https://" is 8), or 0 for any
// scheme but http and https.
size_t schemeLength(const std::string& url) {
    if (startsWithNoCase(url, "https://")) {
        return 8;
    }
    return startsWithNoCase(url, "http://") ? 7 : 0;
}

// The authority of an http(s) URL: what lies between "://" and the path.
std::string authorityOf(const std::string& url) {
    size_t start = schemeLength(url);
    size_t end = url.find_first_of("/?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The host of an authority, without its port (and an IPv6 literal with its
// brackets), in lower case.
std::string hostOf(const std::string& authority) {
    size_t end = authority[0] == '[' ? authority.find(']') + 1 : authority.find(':');
    std::string host = authority.substr(0, end == 0 ? std::string::npos : end);
    for (char& c : host) {
        c = lowerAscii(c);
    }
    return host;
}

// 127.0.0.0/8 written as four decimal numbers.
bool isLoopbackV4(const std::string& host) {
    unsigned parts[4];
    char end = '\0';
    if (std::sscanf(host.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &end) != 4 ||
        host.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    return parts[0] == 127 && parts[1] < 256 && parts[2] < 256 && parts[3] < 256;
}

bool isLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "[::1]" || host == "[0:0:0:0:0:0:0:1]" ||
           isLoopbackV4(host);
}

} // namespace

bool IsAllowedRdapUrl(const std::string& url) {
    size_t scheme = schemeLength(url);
    if (scheme == 0 || url.size() > MaxRdapUrlLength) {
        return false;
    }
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) {
            return false;
        }
    }
    std::string authority = authorityOf(url);
    if (authority.empty() || authority.find('@') != std::string::npos ||
        (authority[0] == '[' && authority.find(']') == std::string::npos)) {
        return false;
    }
    return scheme == 8 || isLoopbackHost(hostOf(authority));
}

std::string ResolveRdapLocation(const std::string& from, const std::string& location) {
    if (schemeLength(location) != 0) {
        return location;
    }
    if (location.size() > 1 && location[0] == '/' && location[1] != '/' && schemeLength(from)) {
        return from.substr(0, schemeLength(from)) + authorityOf(from) + location;
    }
    return std::string();
}

namespace {

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

const char* transportFailure(HttpOutcome outcome) {
    switch (outcome) {
    case HttpUnavailable:
        return "RDAP is not available on this system: its HTTP library is missing.";
    case HttpResolveFailed:
        return "The RDAP server's name could not be resolved.";
    case HttpConnectFailed:
        return "The RDAP server could not be connected to.";
    case HttpTlsFailed:
        return "The RDAP server's certificate or TLS handshake was refused.";
    case HttpTimedOut:
        return "The RDAP server did not answer in time.";
    case HttpBodyTooLarge:
        return "The RDAP answer is larger than 1 MiB.";
    default:
        return "The RDAP request failed.";
    }
}

// One fetch into `answer`; false when it gave no response to go on with.
bool fetchOnce(RdapFetcher& fetcher, const std::string& url, const char* accept,
               RdapAnswer& answer) {
    RdapResponse response;
    answer.outcome = fetcher.Fetch(url.c_str(), accept, response);
    answer.status = response.status;
    answer.body = std::move(response.body);
    answer.location = std::move(response.location);
    if (answer.outcome == HttpFailed) {
        answer.systemDetail =
            response.failedCall.substr(0, 31) + ", error " + std::to_string(response.systemError);
    }
    if (answer.outcome != HttpDone) {
        if (answer.outcome != HttpStopped) {
            answer.failure = transportFailure(answer.outcome);
        }
        return false;
    }
    answer.finalUrl = url;
    return true;
}

} // namespace

void FetchRdap(RdapFetcher& fetcher, const std::string& url, const char* accept,
               RdapAnswer& answer) {
    answer = RdapAnswer();
    answer.url = url;
    std::string next = url;
    for (int redirects = 0;; ++redirects) {
        if (!IsAllowedRdapUrl(next)) {
            answer.outcome = HttpFailed;
            answer.failure = "Refused: RDAP is asked over https, or plain http to a loopback host "
                             "only, and a URL of at most 512 bytes: " +
                             next.substr(0, MaxRdapUrlLength);
            return;
        }
        if (!fetchOnce(fetcher, next, accept, answer) || !isRedirect(answer.status)) {
            return;
        }
        if (redirects == MaxRdapRedirects) {
            answer.failure = "The RDAP server redirected more than 5 times.";
            return;
        }
        next = ResolveRdapLocation(next, answer.location);
        if (next.empty()) {
            answer.failure = "The RDAP server redirected without a usable location.";
            return;
        }
    }
}
