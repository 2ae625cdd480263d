// Where RDAP questions go: IANA's bootstrap registries (dns.json,
// ipv4.json, ipv6.json, asn.json), each a list of services that pair
// entries (zones, networks, ranges of AS numbers) with the base URLs of
// their RDAP servers. Fetched once, shared by every request for the life of
// the library, and fetched again after a day.
#pragma once

#include "protocol/RdapClient.h"
#include "protocol/RdapJson.h"

#include <memory>
#include <string>

enum class RdapKind { Domain, Ipv4, Ipv6, Autnum };

struct RdapQuestion {
    RdapKind kind = RdapKind::Domain;
    // The question as it goes into the URL: the domain name in lower case
    // without a final dot, the address as written, the AS number's digits.
    std::string text;
    unsigned char address[16] = {};
    unsigned long asNumber = 0;
};

// What RDAP can be asked about `query`: a domain name in its ASCII form, an
// IPv4 or IPv6 address, or "AS" and a number. False for anything else
// (whois's own query syntax, blanks, a network with its prefix length).
bool ClassifyRdapQuestion(const char* query, RdapQuestion& question);
// The question's path below a service's base: "domain/example.com",
// "ip/192.0.2.1", "autnum/64496".
std::string RdapQuestionPath(const RdapQuestion& question);
// The bootstrap file that names the services for the question's kind.
const char* RdapBootstrapFile(RdapKind kind);

// The base URL (ending in '/') that the parsed bootstrap file `registry`
// names for `question`: the longest matching zone for a domain, the most
// specific network for an address, the narrowest range for an AS number.
// Of a service's URLs, an https one is preferred. Empty when none matches.
std::string FindRdapBase(const RdapJson& registry, const RdapQuestion& question);

class RdapBootstrapCache {
public:
    enum class Lookup {
        Found,       // `base` is set
        NoService,   // the file names no service for the question
        Unavailable, // the file could not be had; `failure` says why
        Stopped,     // a stop was asked for while fetching
    };

    // A file older than this is fetched again; when that fails, the old one
    // is used and fetching is tried again after RetryAfter.
    static const DWORD RefreshAfter = 24 * 60 * 60 * 1000;
    static const DWORD RetryAfter = 10 * 60 * 1000;

    RdapBootstrapCache();
    ~RdapBootstrapCache();
    RdapBootstrapCache(const RdapBootstrapCache&) = delete;
    RdapBootstrapCache& operator=(const RdapBootstrapCache&) = delete;

    // The service for `question` by the bootstrap files under
    // `bootstrapBase`, fetched through `fetcher` when not held for that base
    // or older than a day (`now` is GetTickCount's time).
    Lookup FindService(RdapFetcher& fetcher, const std::string& bootstrapBase,
                       const RdapQuestion& question, DWORD now, std::string& base,
                       std::string& failure);
    void Clear();

    static RdapBootstrapCache& Shared();

private:
    struct File {
        std::string base;
        std::shared_ptr<const RdapJson> registry;
        DWORD fetchedAt = 0;
    };
    // Fetches and parses one file; null with `failure` set when it fails.
    static std::shared_ptr<const RdapJson> Fetch(RdapFetcher& fetcher, const std::string& url,
                                                 bool& stopped, std::string& failure);

    CRITICAL_SECTION lock;
    File files[4]; // one a kind
};
