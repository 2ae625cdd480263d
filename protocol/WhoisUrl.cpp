#include "protocol/WhoisUrl.h"

#include <cstdio>
#include <cstring>
#include <memory>

const char DefaultWhoisServer[] = "whois.iana.org";

namespace {

// The parser's intermediate strings are the caller's to delete.
using Piece = std::unique_ptr<TextString>;

bool isHostNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool isAddressV6Byte(char c) {
    return HexDigitValue(c) >= 0 || c == ':' || c == '.';
}

// A port of 1 to 65535 in decimal digits only.
bool readPort(LPCSTR text, DWORD count, DWORD& port) {
    if (count == 0 || count > 5) {
        return false;
    }
    DWORD value = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + DWORD(text[i] - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = value;
    return true;
}

// "[v6]" or "[v6]:port" in a URL: the port follows the URL's own rule (no
// number or 0 is the default). Anything after the bracket but a port is a
// syntax error, as is an empty bracket.
bool splitBracketedHost(const TextString& hostPart, Piece& serverPart, DWORD& port) {
    LONG close = hostPart.Find(']');
    if (close < 2) {
        return false;
    }
    LPCSTR after = hostPart.GetText() + close + 1;
    if (*after != '\0' && *after != ':') {
        return false;
    }
    serverPart.reset(hostPart.Mid(1, close - 1));
    if (!serverPart) {
        return false;
    }
    if (*after == ':') {
        port = TextString(after + 1).ToUnsigned();
        if (port == 0) {
            port = DefaultWhoisPort;
        }
    }
    return true;
}

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
    if (hostPart->GetText()[0] == '[') {
        if (!splitBracketedHost(*hostPart, serverPart, parsedPort)) {
            return StatusSyntaxError;
        }
    } else if (hostPart->Find(':') > 0) {
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

bool ParseServerAddress(LPCSTR text, DWORD count, DWORD defaultPort, TextString& host,
                        DWORD& port) {
    if (text == nullptr || count == 0) {
        return false;
    }
    DWORD hostStart = 0;
    DWORD hostEnd = 0; // one past the host
    DWORD rest = 0;    // where ":port" may begin
    if (text[0] == '[') {
        const void* close = std::memchr(text, ']', count);
        if (close == nullptr) {
            return false;
        }
        hostStart = 1;
        hostEnd = DWORD(static_cast<const char*>(close) - text);
        for (DWORD i = hostStart; i < hostEnd; ++i) {
            if (!isAddressV6Byte(text[i])) {
                return false;
            }
        }
        rest = hostEnd + 1;
    } else {
        while (hostEnd < count && text[hostEnd] != ':') {
            if (!isHostNameByte(text[hostEnd])) {
                return false;
            }
            ++hostEnd;
        }
        rest = hostEnd;
    }
    DWORD length = hostEnd - hostStart;
    if (length == 0 || length > MaxServerNameLength) {
        return false;
    }
    DWORD parsedPort = defaultPort;
    if (rest < count &&
        (text[rest] != ':' || !readPort(text + rest + 1, count - rest - 1, parsedPort))) {
        return false;
    }
    char name[MaxServerNameLength + 1];
    std::memcpy(name, text + hostStart, length);
    name[length] = '\0';
    host.Assign(name);
    port = parsedPort;
    return host.GetText() != nullptr;
}

bool FormatServerAddress(LPCSTR host, DWORD port, LPSTR out, DWORD size) {
    if (host == nullptr || out == nullptr || size == 0) {
        return false;
    }
    bool v6 = std::strchr(host, ':') != nullptr;
    int written = std::snprintf(out, size, v6 ? "[%s]:%lu" : "%s:%lu", host,
                                static_cast<unsigned long>(port));
    return written > 0 && DWORD(written) < size;
}

RequestStatus ParseWhoisUrl(const TextString& url, TextString& server, DWORD& port,
                            TextString& query, bool* simpleShape) {
    Piece rest(url.RightOf(":"));
    if (!rest || rest->GetLength() <= 1) {
        return StatusSyntaxError;
    }
    LONG slashes = rest->Find("//", 0);
    if (slashes > 0) {
        return StatusSyntaxError;
    }
    if (simpleShape != nullptr) {
        *simpleShape = slashes < 0;
    }
    if (slashes < 0) {
        server.Assign(DefaultWhoisServer);
        port = DefaultWhoisPort;
        query.Assign(rest->GetText());
        return StatusOk;
    }
    return parseFullShape(*rest, server, port, query);
}
