#include "protocol/InternationalUrl.h"

#include <new>

namespace {

// A wide text in a new[] block; null after a failed allocation.
class WideText {
public:
    WideText() = default;
    ~WideText() { delete[] text; }
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;

    // Makes room for `count` characters and a NUL; false when it cannot.
    bool Reserve(int count) {
        delete[] text;
        length = 0;
        text = count >= 0 ? new (std::nothrow) WCHAR[size_t(count) + 1] : nullptr;
        if (text != nullptr) {
            text[0] = 0;
        }
        capacity = text != nullptr ? count : 0;
        return text != nullptr;
    }
    bool Append(LPCWSTR from, int count) {
        if (text == nullptr || count < 0 || count > capacity - length) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            text[length++] = from[i];
        }
        text[length] = 0;
        return true;
    }
    // Replaces the text with `count` bytes of UTF-8.
    bool AssignUtf8(const char* bytes, int count) {
        int wideLength = MultiByteToWideChar(CP_UTF8, 0, bytes, count, nullptr, 0);
        if (wideLength <= 0 || !Reserve(wideLength)) {
            return false;
        }
        length = MultiByteToWideChar(CP_UTF8, 0, bytes, count, text, wideLength);
        text[length] = 0;
        return length > 0;
    }
    LPWSTR Release() {
        LPWSTR released = text;
        text = nullptr;
        return released;
    }
    LPCWSTR Text() const { return text; }
    int Length() const { return length; }

private:
    LPWSTR text = nullptr;
    int capacity = 0;
    int length = 0;
};

bool isAscii(WCHAR c) {
    return c < 0x80;
}

// An ASCII character a host name may hold.
bool isHostCharacter(WCHAR c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

// Whether `count` characters of `name` are a domain name with at least one
// letter beyond ASCII.
bool isInternationalName(LPCWSTR name, int count) {
    bool international = false;
    for (int i = 0; i < count; ++i) {
        if (!isAscii(name[i])) {
            international = true;
        } else if (!isHostCharacter(name[i])) {
            return false;
        }
    }
    return international;
}

int find(LPCWSTR text, int from, int end, WCHAR c) {
    for (int i = from; i < end; ++i) {
        if (text[i] == c) {
            return i;
        }
    }
    return -1;
}

// Appends `count` characters of `name` to `out` with each label beyond ASCII
// in its ASCII form; ASCII labels stay as written. False when a label
// cannot be converted.
bool appendAsciiName(LPCWSTR name, int count, WideText& out) {
    for (int start = 0; start <= count;) {
        int end = find(name, start, count, '.');
        end = end < 0 ? count : end;
        int labelLength = end - start;
        if (isInternationalName(name + start, labelLength)) {
            WCHAR label[256];
            int written = IdnToAscii(0, name + start, labelLength, label, 255);
            if (written <= 0 || !out.Append(label, written)) {
                return false;
            }
        } else if (!out.Append(name + start, labelLength)) {
            return false;
        }
        if (end < count && !out.Append(name + end, 1)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

// `count` characters of `query` with its `%XX` escapes decoded as UTF-8, in
// `decoded`; false when there are none, they are not UTF-8, or they decode to
// ASCII only (such a query is sent as written, as it always was).
bool decodeEscapes(LPCWSTR query, int count, WideText& decoded) {
    if (find(query, 0, count, '%') < 0) {
        return false;
    }
    char* bytes = new (std::nothrow) char[size_t(count) + 1];
    if (bytes == nullptr) {
        return false;
    }
    int length = 0;
    bool beyondAscii = false;
    bool plain = true; // every character is ASCII, so the bytes are the text
    for (int i = 0; i < count && plain; ++i) {
        int high = i + 2 < count ? HexDigitValue(query[i + 1]) : -1;
        int low = i + 2 < count ? HexDigitValue(query[i + 2]) : -1;
        if (query[i] == '%' && high >= 0 && low >= 0) {
            bytes[length] = char(high * 16 + low);
            beyondAscii = beyondAscii || (high >= 8);
            ++length;
            i += 2;
        } else {
            plain = isAscii(query[i]);
            bytes[length++] = char(query[i]);
        }
    }
    bool ok = plain && beyondAscii && decoded.AssignUtf8(bytes, length);
    delete[] bytes;
    return ok;
}

// Where the parts of a URL lie: the server name of the full shape (start
// -1 when there is none or it is an IPv6 literal) and the query.
struct UrlParts {
    int hostStart = -1;
    int hostEnd = -1;
    int queryStart = -1;
};

bool findParts(LPCWSTR url, int length, UrlParts& parts) {
    int colon = find(url, 0, length, ':');
    if (colon < 0) {
        return false;
    }
    parts.queryStart = colon + 1;
    if (colon + 2 < length && url[colon + 1] == '/' && url[colon + 2] == '/') {
        int hostStart = colon + 3;
        int slash = find(url, hostStart, length, '/');
        if (slash < 0) {
            return false;
        }
        parts.queryStart = slash + 1;
        if (url[hostStart] != '[') {
            int portColon = find(url, hostStart, slash, ':');
            parts.hostStart = hostStart;
            parts.hostEnd = portColon < 0 ? slash : portColon;
        }
    }
    return true;
}

// URLs beyond this length are left as they are: no name is that long.
const int MaxConvertedUrlLength = 65536;

} // namespace

LPWSTR AsciiFormOfUrl(LPCWSTR url) {
    if (url == nullptr) {
        return nullptr;
    }
    int length = lstrlenW(url);
    UrlParts parts;
    if (length > MaxConvertedUrlLength || !findParts(url, length, parts)) {
        return nullptr;
    }
    LPCWSTR query = url + parts.queryStart;
    int queryLength = length - parts.queryStart;
    WideText decoded;
    if (decodeEscapes(query, queryLength, decoded)) {
        query = decoded.Text();
        queryLength = decoded.Length();
    }
    bool hostChanges = parts.hostStart >= 0 &&
                       isInternationalName(url + parts.hostStart, parts.hostEnd - parts.hostStart);
    bool queryChanges = isInternationalName(query, queryLength);
    if (!hostChanges && !queryChanges) {
        return nullptr;
    }
    // An ASCII label is at most 63 characters, from at least one.
    int labels = 2;
    for (int i = 0; i < length; ++i) {
        labels += url[i] == '.' ? 1 : 0;
    }
    WideText out;
    if (!out.Reserve(length + 64 * labels)) {
        return nullptr;
    }
    bool ok = true;
    if (hostChanges) {
        ok = out.Append(url, parts.hostStart) &&
             appendAsciiName(url + parts.hostStart, parts.hostEnd - parts.hostStart, out) &&
             out.Append(url + parts.hostEnd, parts.queryStart - parts.hostEnd);
    } else {
        ok = out.Append(url, parts.queryStart);
    }
    if (queryChanges) {
        ok = ok && appendAsciiName(query, queryLength, out);
    } else {
        ok = ok && out.Append(url + parts.queryStart, length - parts.queryStart);
    }
    return ok ? out.Release() : nullptr;
}
