// An RDAP answer on the page: a line naming the URL asked, then the answer
// as lines in the order a person reads them (name, handle, status, events,
// entities with their vCard, name servers, DNSSEC, remarks, notices), or a
// failure line. Everything from the server is escaped, and everything goes
// through the stream's bound, so a large answer is cut cleanly.
#pragma once

#include "protocol/RdapClient.h"
#include "protocol/SocketStream.h"

#include <string>

// Writes `answer` to `stream`. When `related` is given and the answer is
// one with a link of rel "related" and type application/rdap+json (a thin
// registry's to its registrar), that link's URL is put there. Returns
// whether the answer was RDAP and shown (else a failure line was).
bool WriteRdapAnswer(SocketStream& stream, const RdapAnswer& answer, std::string* related);

// The first `limit` bytes of `text` for a line of the page: escaped, line
// ends and other control bytes as blanks, "..." where it was cut.
std::string RdapShownText(const std::string& text, size_t limit);
