#include "protocol/Referral.h"

#include "protocol/WhoisUrl.h"

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Whether `text` (of `length` bytes) starts with `prefix`, in any ASCII case.
bool startsWithNoCase(const char* text, DWORD length, const char* prefix) {
    DWORD i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i == length || lowerAscii(text[i]) != prefix[i]) {
            return false;
        }
    }
    return true;
}

DWORD lengthOf(const char* text) {
    DWORD length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

// The keys that name a server, lower case with their colon, and the scheme
// their value must begin with (empty: none).
struct ReferralKey {
    const char* key;
    const char* scheme;
};

const ReferralKey ReferralKeys[] = {
    {"refer:", ""},
    {"whois:", ""},
    {"registrar whois server:", ""},
    {"referralserver:", "whois://"},
};

// The referral of one line (without its line end), if it holds one.
bool referralOfLine(const char* line, DWORD length, TextString& host, DWORD& port) {
    while (length != 0 && IsBlankOrLineBreak(line[length - 1])) {
        --length;
    }
    while (length != 0 && IsBlank(*line)) {
        ++line;
        --length;
    }
    for (const ReferralKey& entry : ReferralKeys) {
        if (!startsWithNoCase(line, length, entry.key)) {
            continue;
        }
        DWORD keyLength = lengthOf(entry.key);
        const char* value = line + keyLength;
        DWORD valueLength = length - keyLength;
        while (valueLength != 0 && IsBlank(*value)) {
            ++value;
            --valueLength;
        }
        if (!startsWithNoCase(value, valueLength, entry.scheme)) {
            return false;
        }
        DWORD schemeLength = lengthOf(entry.scheme);
        value += schemeLength;
        valueLength -= schemeLength;
        // A URL's host may end with its root path.
        if (schemeLength != 0 && valueLength != 0 && value[valueLength - 1] == '/') {
            --valueLength;
        }
        return ParseServerAddress(value, valueLength, DefaultWhoisPort, host, port);
    }
    return false;
}

} // namespace

bool FindReferral(const char* reply, DWORD length, TextString& host, DWORD& port) {
    if (reply == nullptr) {
        return false;
    }
    DWORD start = 0;
    while (start < length) {
        DWORD end = start;
        while (end < length && reply[end] != '\n') {
            ++end;
        }
        if (end - start <= MaxReferralLineLength &&
            referralOfLine(reply + start, end - start, host, port)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}
