#include "protocol/WhoisUrl.h"

#include <memory>

const char DefaultWhoisServer[] = "whois.iana.org";

namespace {

// The parser's intermediate strings are the caller's to delete.
using Piece = std::unique_ptr<TextString>;

RequestStatus parseFullShape(TextString& rest, TextString& server, DWORD& port, TextString& query) {
    // Drop the leading "//".
    rest.SetPosition(0);
    rest.EraseBeforePosition(2);

    Piece hostPart(rest.LeftOf("/"));
    if (!hostPart || hostPart->GetLength() == 0) {
        return StatusSyntaxError; // no slash after the server, or an empty server
    }
    Piece queryPart(rest.RightOf("/"));
    if (!queryPart) {
        return StatusSyntaxError;
    }

    DWORD parsedPort = DefaultWhoisPort;
    Piece serverPart;
    if (hostPart->Find(':') > 0) {
        Piece portText(hostPart->RightOf(":"));
        serverPart.reset(hostPart->LeftOf(":"));
        if (!portText || !serverPart) {
            return StatusSyntaxError;
        }
        parsedPort = portText->ToUnsigned();
        if (parsedPort == 0) {
            parsedPort = DefaultWhoisPort;
        }
    }
    // Without a colon, or with one in front, the whole host part names the server.
    server.Assign(serverPart ? serverPart->GetText() : hostPart->GetText());
    port = parsedPort;
    query.Assign(queryPart->GetText() != nullptr ? queryPart->GetText() : "");
    return StatusOk;
}

} // namespace

RequestStatus ParseWhoisUrl(const TextString& url, TextString& server, DWORD& port,
                            TextString& query) {
    Piece rest(url.RightOf(":"));
    if (!rest || rest->GetLength() <= 1) {
        return StatusSyntaxError;
    }
    LONG slashes = rest->Find("//", 0);
    if (slashes > 0) {
        return StatusSyntaxError;
    }
    if (slashes < 0) {
        server.Assign(DefaultWhoisServer);
        port = DefaultWhoisPort;
        query.Assign(rest->GetText());
        return StatusOk;
    }
    return parseFullShape(*rest, server, port, query);
}
