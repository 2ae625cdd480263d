// What the test whois server answers: its built-in texts, and the table of
// canned replies by query (built-in ones plus those of a replies file).
#pragma once

#include <map>
#include <string>

namespace whoisd {

// The built-in texts, public so that tests can compare what arrived.

// The reply for "example.com", shaped like a registry's: CR LF line ends and
// the ">>> ... <<<" line real servers send.
extern const char ExampleReply[];
// Sent when a client connects and sends nothing before the idle time ends.
extern const char NoQueryReply[];
// The "hostile" reply: markup and entities a page must not pass on raw.
extern const char HostileReply[];
// What the "reset" behaviour sends before it resets the connection.
extern const char ResetPartialReply[];

// The "large" reply: LargeReplyLines numbered lines of LargeReplyLineSize
// bytes each ("large 00001 xxx...x\n"), twice the 64 KiB a page can hold.
const int LargeReplyLines = 2048;
const int LargeReplyLineSize = 64;
std::string LargeReply();
// Line `number` (1-based) of the large reply, line feed included.
std::string LargeReplyLine(int number);

// The "drip" reply, sent one line at a time with DripPauseMs between lines.
const int DripLines = 10;
const int DripPauseMs = 100;
std::string DripReplyLine(int number);
std::string DripReply();

// The answer to a query no table entry knows, as registries word it.
std::string NoMatchReply(const std::string& query);

// The canned replies by query. Queries match without regard to ASCII case
// and surrounding white space, as whois servers match domain names.
class CannedReplies {
public:
    CannedReplies(); // with the built-in replies
    void Add(const std::string& query, const std::string& reply);

    // Adds the replies of a file:
    //
    //   lines before the first "@@ " line are comments
    //   @@ QUERY          starts the reply to QUERY
    //   ...               every following line, line end included, up to the
    //                     next "@@ " line or the end of the file, is the reply
    //
    // Bytes are taken unchanged, so a file with CR LF line ends gives replies
    // with CR LF. A reply line cannot itself begin with "@@ ".
    bool LoadFile(const std::string& path, std::string& error);

    // Replaces every `name` in every reply with `value` (the server's ports
    // in replies that refer to one another).
    void Substitute(const std::string& name, const std::string& value);

    // The canned reply to `query`, or the no-match text.
    std::string ReplyFor(const std::string& query) const;

private:
    std::map<std::string, std::string> replies; // by normalised query
};

// The query without surrounding white space (a trailing CR included).
std::string TrimQuery(const std::string& query);
// The query as the table and the behaviours match it: trimmed, and ASCII
// letters in lower case.
std::string NormaliseQuery(const std::string& query);

} // namespace whoisd
