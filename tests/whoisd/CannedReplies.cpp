#include "tests/whoisd/CannedReplies.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace whoisd {

const char ExampleReply[] = "   Domain Name: EXAMPLE.COM\r\n"
                            "   Registry Domain ID: 2336799_DOMAIN_COM-VRSN\r\n"
                            "   Registrar WHOIS Server: \r\n"
                            "   Registrar URL: http://res-dom.iana.org\r\n"
                            "   Updated Date: 2024-08-14T07:01:34Z\r\n"
                            "   Creation Date: 1995-08-14T04:00:00Z\r\n"
                            "   Registry Expiry Date: 2025-08-13T04:00:00Z\r\n"
                            "   Registrar: RESERVED-Internet Assigned Numbers Authority\r\n"
                            "   Registrar IANA ID: 376\r\n"
                            "   Domain Status: clientDeleteProhibited "
                            "https://icann.org/epp#clientDeleteProhibited\r\n"
                            "   Domain Status: clientTransferProhibited "
                            "https://icann.org/epp#clientTransferProhibited\r\n"
                            "   Name Server: A.IANA-SERVERS.NET\r\n"
                            "   Name Server: B.IANA-SERVERS.NET\r\n"
                            "   DNSSEC: signedDelegation\r\n"
                            ">>> Last update of whois database: 2024-11-02T09:14:07Z <<<\r\n"
                            "\r\n"
                            "NOTICE: This reply comes from hollin's test whois server; the data\r\n"
                            "is canned and describes no registration.\r\n";

const char NoQueryReply[] = "% hollin-whoisd: no query was received.\n";

const char HostileReply[] = "Domain Name: HOSTILE.TEST\n"
                            "Registrant: <script>alert(\"hollin\")</script>\n"
                            "Organisation: Smith & Sons <b>bold</b> &amp; &lt;already escaped&gt;\n"
                            "Note: a < b > c && d\n"
                            "</pre><iframe src=\"http://hostile.test/\"></iframe><pre>\n"
                            "<!-- comment --> <img src=x onerror='alert(1)'>\n";

const char ResetPartialReply[] = "% This reply is cut short by a connection reset.\n"
                                 "partial 1 of 3\n"
                                 "partial 2 of 3\n"
                                 "partial 3 of 3\n";

std::string LargeReplyLine(int number) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "large %05d ", number);
    std::string line(prefix);
    line.append(LargeReplyLineSize - 1 - line.size(), 'x');
    return line + '\n';
}

std::string LargeReply() {
    std::string reply;
    reply.reserve(size_t(LargeReplyLines) * LargeReplyLineSize);
    for (int number = 1; number <= LargeReplyLines; ++number) {
        reply += LargeReplyLine(number);
    }
    return reply;
}

std::string DripReplyLine(int number) {
    return "drip line " + std::to_string(number) + " of " + std::to_string(DripLines) + "\n";
}

std::string DripReply() {
    std::string reply;
    for (int number = 1; number <= DripLines; ++number) {
        reply += DripReplyLine(number);
    }
    return reply;
}

std::string NoMatchReply(const std::string& query) {
    return "No match for \"" + query + "\".\n";
}

std::string TrimQuery(const std::string& query) {
    const char* space = " \t\r\n\f\v";
    size_t first = query.find_first_not_of(space);
    if (first == std::string::npos) {
        return std::string();
    }
    return query.substr(first, query.find_last_not_of(space) - first + 1);
}

std::string NormaliseQuery(const std::string& query) {
    std::string trimmed = TrimQuery(query);
    for (char& c : trimmed) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return trimmed;
}

CannedReplies::CannedReplies() {
    Add("example.com", ExampleReply);
}

void CannedReplies::Add(const std::string& query, const std::string& reply) {
    replies[NormaliseQuery(query)] = reply;
}

bool CannedReplies::LoadFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream contents;
    contents << file.rdbuf();
    const std::string text = contents.str();

    const std::string marker = "@@ ";
    std::string query;
    std::string reply;
    bool inReply = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        start = end;
        if (line.compare(0, marker.size(), marker) == 0) {
            if (inReply) {
                Add(query, reply);
            }
            query = line.substr(marker.size());
            reply.clear();
            inReply = true;
        } else if (inReply) {
            reply += line;
        }
    }
    if (!inReply) {
        error = path + " holds no \"@@ QUERY\" line";
        return false;
    }
    Add(query, reply);
    return true;
}

void CannedReplies::Substitute(const std::string& name, const std::string& value) {
    if (name.empty()) {
        return;
    }
    for (auto& entry : replies) {
        std::string& reply = entry.second;
        for (size_t at = reply.find(name); at != std::string::npos;
             at = reply.find(name, at + value.size())) {
            reply.replace(at, name.size(), value);
        }
    }
}

std::string CannedReplies::ReplyFor(const std::string& query) const {
    auto found = replies.find(NormaliseQuery(query));
    return found != replies.end() ? found->second : NoMatchReply(TrimQuery(query));
}

} // namespace whoisd
