#include "protocol/RdapBootstrap.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

const char Digits[] = "0123456789";
const char HexDigits[] = "0123456789abcdefABCDEF";

bool onlyOf(const std::string& text, const char* allowed) {
    return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

// A decimal number of at most `maxDigits` digits and no more than `max`.
bool parseNumber(const std::string& text, size_t maxDigits, unsigned long max,
                 unsigned long& value) {
    if (!onlyOf(text, Digits) || text.size() > maxDigits) {
        return false;
    }
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value <= max;
}

bool parseIpv4(const std::string& text, unsigned char* out) {
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = part < 3 ? text.find('.', start) : text.size();
        unsigned long value = 0;
        if (end == std::string::npos ||
            !parseNumber(text.substr(start, end - start), 3, 255, value)) {
            return false;
        }
        out[part] = static_cast<unsigned char>(value);
        start = end + 1;
    }
    return true;
}

// The 16-bit groups of one side of an IPv6 address's "::" (an IPv4 address
// may end it, as two groups).
bool parseGroups(const std::string& part, bool mayEndInIpv4, std::vector<unsigned>& groups) {
    for (size_t start = 0; !part.empty();) {
        size_t end = part.find(':', start);
        std::string group = part.substr(start, end == std::string::npos ? end : end - start);
        unsigned char v4[4];
        if (end == std::string::npos && mayEndInIpv4 && group.find('.') != std::string::npos) {
            if (!parseIpv4(group, v4)) {
                return false;
            }
            groups.push_back(unsigned(v4[0]) << 8 | v4[1]);
            groups.push_back(unsigned(v4[2]) << 8 | v4[3]);
            return true;
        }
        if (group.size() > 4 || !onlyOf(group, HexDigits)) {
            return false;
        }
        groups.push_back(unsigned(std::strtoul(group.c_str(), nullptr, 16)));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return true;
}

bool parseIpv6(const std::string& text, unsigned char* out) {
    size_t gap = text.find("::");
    if (gap != std::string::npos && text.find("::", gap + 1) != std::string::npos) {
        return false;
    }
    std::vector<unsigned> head;
    std::vector<unsigned> tail;
    bool parsed = gap == std::string::npos ? parseGroups(text, true, head) && head.size() == 8
                                           : parseGroups(text.substr(0, gap), false, head) &&
                                                 parseGroups(text.substr(gap + 2), true, tail) &&
                                                 head.size() + tail.size() <= 7;
    if (!parsed) {
        return false;
    }
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
    for (size_t i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<unsigned char>(head[i] >> 8);
        out[2 * i + 1] = static_cast<unsigned char>(head[i] & 0xFF);
    }
    return true;
}

bool isDomainName(const std::string& name) {
    if (name.empty() || name.size() > 253 || name[0] == '.' ||
        name.find("..") != std::string::npos) {
        return false;
    }
    for (char c : name) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '-' && c != '.' && c != '_') {
            return false;
        }
    }
    return true;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    return text;
}

// How well the bootstrap entry `entry` matches the question: -1 for not at
// all, else a score that grows with how specific the entry is.
long long matchScore(const std::string& entry, const RdapQuestion& question) {
    switch (question.kind) {
    case RdapKind::Domain: {
        std::string zone = lowerCase(entry);
        const std::string& name = question.text;
        bool matches = !zone.empty() && name.size() >= zone.size() &&
                       name.compare(name.size() - zone.size(), zone.size(), zone) == 0 &&
                       (name.size() == zone.size() || name[name.size() - zone.size() - 1] == '.');
        return matches ? static_cast<long long>(zone.size()) : -1;
    }
    case RdapKind::Ipv4:
    case RdapKind::Ipv6: {
        bool v6 = question.kind == RdapKind::Ipv6;
        size_t slash = entry.find('/');
        unsigned char network[16] = {};
        unsigned long bits = 0;
        if (slash == std::string::npos ||
            !(v6 ? parseIpv6(entry.substr(0, slash), network)
                 : parseIpv4(entry.substr(0, slash), network)) ||
            !parseNumber(entry.substr(slash + 1), 3, v6 ? 128 : 32, bits)) {
            return -1;
        }
        for (unsigned long bit = 0; bit < bits; ++bit) {
            unsigned mask = 0x80u >> (bit % 8);
            if ((network[bit / 8] & mask) != (question.address[bit / 8] & mask)) {
                return -1;
            }
        }
        return static_cast<long long>(bits);
    }
    case RdapKind::Autnum: {
        size_t dash = entry.find('-');
        unsigned long low = 0;
        unsigned long high = 0;
        if (!parseNumber(entry.substr(0, dash), 10, 0xFFFFFFFFul, low) ||
            !parseNumber(dash == std::string::npos ? entry.substr(0, dash) : entry.substr(dash + 1),
                         10, 0xFFFFFFFFul, high) ||
            question.asNumber < low || question.asNumber > high) {
            return -1;
        }
        // The narrower the range, the higher the score.
        return 0xFFFFFFFFll - static_cast<long long>(high - low);
    }
    }
    return -1;
}

// The base URL of a service's URLs: the first https one, else the first
// allowed one (plain http to a loopback host), with a final '/'.
std::string chooseBase(const RdapJson& urls) {
    std::string chosen;
    for (const RdapJson& url : urls) {
        if (!url.is_string() || !IsAllowedRdapUrl(url.get_ref<const std::string&>())) {
            continue;
        }
        const std::string& text = url.get_ref<const std::string&>();
        bool https = lowerCase(text.substr(0, 8)) == "https://";
        if (chosen.empty() || https) {
            chosen = text;
        }
        if (https) {
            break;
        }
    }
    if (!chosen.empty() && chosen.back() != '/') {
        chosen += '/';
    }
    return chosen;
}

} // namespace

bool ClassifyRdapQuestion(const char* query, RdapQuestion& question) {
    question = RdapQuestion();
    if (query == nullptr) {
        return false;
    }
    std::string text(query);
    if (parseIpv4(text, question.address)) {
        question.kind = RdapKind::Ipv4;
    } else if (text.find(':') != std::string::npos && parseIpv6(text, question.address)) {
        question.kind = RdapKind::Ipv6;
        text = lowerCase(text);
    } else if (text.size() > 2 && lowerCase(text.substr(0, 2)) == "as" &&
               parseNumber(text.substr(2), 10, 0xFFFFFFFFul, question.asNumber)) {
        question.kind = RdapKind::Autnum;
        text = text.substr(2);
    } else {
        if (!text.empty() && text.back() == '.') {
            text.pop_back();
        }
        if (!isDomainName(text)) {
            return false;
        }
        question.kind = RdapKind::Domain;
        text = lowerCase(text);
    }
    question.text = text;
    return true;
}

std::string RdapQuestionPath(const RdapQuestion& question) {
    switch (question.kind) {
    case RdapKind::Ipv4:
    case RdapKind::Ipv6:
        return "ip/" + question.text;
    case RdapKind::Autnum:
        return "autnum/" + question.text;
    default:
        return "domain/" + question.text;
    }
}

const char* RdapBootstrapFile(RdapKind kind) {
    switch (kind) {
    case RdapKind::Ipv4:
        return "ipv4.json";
    case RdapKind::Ipv6:
        return "ipv6.json";
    case RdapKind::Autnum:
        return "asn.json";
    default:
        return "dns.json";
    }
}

std::string FindRdapBase(const RdapJson& registry, const RdapQuestion& question) {
    const RdapJson* services = JsonMember(registry, "services");
    if (services == nullptr || !services->is_array()) {
        return std::string();
    }
    long long best = -1;
    std::string base;
    for (const RdapJson& service : *services) {
        if (!service.is_array() || service.size() < 2 || !service[0].is_array() ||
            !service[1].is_array()) {
            continue;
        }
        for (const RdapJson& entry : service[0]) {
            long long score =
                entry.is_string() ? matchScore(entry.get_ref<const std::string&>(), question) : -1;
            std::string candidate = score > best ? chooseBase(service[1]) : std::string();
            if (!candidate.empty()) {
                best = score;
                base = candidate;
            }
        }
    }
    return base;
}

RdapBootstrapCache::RdapBootstrapCache() {
    InitializeCriticalSection(&lock);
}

RdapBootstrapCache::~RdapBootstrapCache() {
    DeleteCriticalSection(&lock);
}

RdapBootstrapCache& RdapBootstrapCache::Shared() {
    static RdapBootstrapCache cache;
    return cache;
}

void RdapBootstrapCache::Clear() {
    EnterCriticalSection(&lock);
    for (File& file : files) {
        file = File();
    }
    LeaveCriticalSection(&lock);
}

std::shared_ptr<const RdapJson> RdapBootstrapCache::Fetch(RdapFetcher& fetcher,
                                                          const std::string& url, bool& stopped,
                                                          std::string& failure) {
    RdapAnswer answer;
    FetchRdap(fetcher, url, "application/json", answer);
    stopped = answer.outcome == HttpStopped;
    if (!answer.failure.empty() || stopped) {
        failure = answer.failure;
        return nullptr;
    }
    auto registry = std::make_shared<RdapJson>();
    if (answer.status != 200 ||
        ParseRdapJson(answer.body.data(), answer.body.size(), *registry) != RdapParse::Parsed ||
        JsonMember(*registry, "services") == nullptr) {
        failure = "The RDAP bootstrap file " + url + " is not one (HTTP status " +
                  std::to_string(answer.status) + ").";
        return nullptr;
    }
    return registry;
}

RdapBootstrapCache::Lookup RdapBootstrapCache::FindService(RdapFetcher& fetcher,
                                                           const std::string& bootstrapBase,
                                                           const RdapQuestion& question, DWORD now,
                                                           std::string& base,
                                                           std::string& failure) {
    std::string url = bootstrapBase;
    if (!url.empty() && url.back() != '/') {
        url += '/';
    }
    url += RdapBootstrapFile(question.kind);
    File& slot = files[int(question.kind)];
    EnterCriticalSection(&lock);
    File held = slot.base == bootstrapBase ? slot : File();
    LeaveCriticalSection(&lock);

    // Fetched outside the lock: a slow server holds up only this request.
    if (held.registry == nullptr || now - held.fetchedAt >= RefreshAfter) {
        bool stopped = false;
        std::shared_ptr<const RdapJson> fetched = Fetch(fetcher, url, stopped, failure);
        if (stopped) {
            return Lookup::Stopped;
        }
        if (fetched != nullptr) {
            held = File{bootstrapBase, fetched, now};
        } else if (held.registry != nullptr) {
            held.fetchedAt = now - RefreshAfter + RetryAfter; // keep the old one for now
        } else {
            return Lookup::Unavailable;
        }
        EnterCriticalSection(&lock);
        slot = held;
        LeaveCriticalSection(&lock);
    }
    base = FindRdapBase(*held.registry, question);
    return base.empty() ? Lookup::NoService : Lookup::Found;
}
