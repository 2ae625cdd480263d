// Code pages: conversion between UTF-16 and the narrow code pages the system
// uses, Windows-1252 (the ANSI code page) and UTF-8.
//
// Divisions, in order:
//   - Windows-1252: the bytes that differ from Latin-1
//   - UTF-16 and UTF-8: reading and writing code points
//   - conversion: WideCharToMultiByte and MultiByteToWideChar
//
// Where this differs from Windows, and why:
// - CP_ACP is Windows-1252 whatever the locale, as on a Western Windows: one
//   byte per character, and a character the code page cannot show becomes
//   '?', the platform's default character.
// - Only CP_ACP, 1252 and CP_UTF8 are known; any other code page, and any
//   flag, fails with ERROR_INVALID_PARAMETER. A malformed UTF-8 sequence and a
//   lone surrogate read as U+FFFD, as Windows reads them without
//   MB_ERR_INVALID_CHARS.
#include "platform/kernel32.h"

namespace {

// --- Windows-1252 --------------------------------------------------------------------------------

// Windows-1252 bytes 0x80..0x9F; the five bytes the code page leaves undefined
// map to the C1 control of the same value, as Windows maps them.
const char16_t Cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t cp1252ToUnicode(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? Cp1252High[byte - 0x80] : char16_t(byte);
}

// The byte for a code point, or -1 when Windows-1252 has none.
int unicodeToCp1252(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return int(codePoint);
    }
    for (int i = 0; i < 32; ++i) {
        if (Cp1252High[i] == codePoint) {
            return 0x80 + i;
        }
    }
    return -1;
}

// --- UTF-16 and UTF-8 ----------------------------------------------------------------------------

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Reads one code point from UTF-16; a lone surrogate reads as U+FFFD.
char32_t nextCodePoint(const WCHAR* wide, int count, int& i) {
    char16_t c = wide[i++];
    if (isHighSurrogate(c) && i < count && isLowSurrogate(wide[i])) {
        char16_t low = wide[i++];
        return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
    }
    if (isHighSurrogate(c) || isLowSurrogate(c)) {
        return 0xFFFD;
    }
    return c;
}

int encodeUtf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

// Reads one code point from UTF-8; a malformed sequence reads as U+FFFD and
// consumes one byte.
char32_t decodeUtf8(const unsigned char* in, int count, int& i) {
    unsigned char lead = in[i];
    int length = lead < 0x80         ? 1
                 : (lead >> 5) == 6  ? 2
                 : (lead >> 4) == 14 ? 3
                 : (lead >> 3) == 30 ? 4
                                     : 0;
    if (length == 0 || i + length > count) {
        ++i;
        return lead < 0x80 ? lead : 0xFFFD;
    }
    char32_t cp = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k) {
        if ((in[i + k] & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (in[i + k] & 0x3F);
    }
    static const char32_t SmallestOfLength[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < SmallestOfLength[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return cp;
}

} // namespace

// --- conversion ----------------------------------------------------------------------------------

namespace {

bool isKnownCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == 1252 || codePage == CP_UTF8;
}

// Collects output bytes or units, counting them when there is no room to
// write (size 0), and noticing when the caller's room runs out.
template <typename Unit> struct OutputSink {
    Unit* target;
    int size; // 0: only count
    int written = 0;
    bool overflow = false;
    void Put(Unit unit) {
        if (size != 0) {
            if (written >= size) {
                overflow = true;
                return;
            }
            target[written] = unit;
        }
        ++written;
    }
};

} // namespace

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multi,
                        int multiSize, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (!isKnownCodePage(codePage) || wide == nullptr || wideCount == 0 || wideCount < -1 ||
        multiSize < 0 || (multiSize > 0 && multi == nullptr) || flags != 0 ||
        (codePage == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int count = wideCount == -1 ? lstrlenW(wide) + 1 : wideCount;
    char replacement = defaultChar != nullptr ? *defaultChar : '?';
    bool usedDefault = false;
    OutputSink<char> out{multi, multiSize};
    for (int i = 0; i < count && !out.overflow;) {
        char32_t cp = nextCodePoint(wide, count, i);
        if (codePage == CP_UTF8) {
            char bytes[4];
            int n = encodeUtf8(cp, bytes);
            for (int k = 0; k < n; ++k) {
                out.Put(bytes[k]);
            }
            continue;
        }
        int byte = unicodeToCp1252(cp);
        if (byte < 0) {
            usedDefault = true;
            out.Put(replacement);
        } else {
            out.Put(char(byte));
        }
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    if (out.overflow) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return out.written;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int multiCount, LPWSTR wide,
                        int wideSize) {
    if (!isKnownCodePage(codePage) || multi == nullptr || multiCount == 0 || multiCount < -1 ||
        wideSize < 0 || (wideSize > 0 && wide == nullptr) || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int count = multiCount == -1 ? lstrlenA(multi) + 1 : multiCount;
    auto* bytes = reinterpret_cast<const unsigned char*>(multi);
    OutputSink<WCHAR> out{wide, wideSize};
    for (int i = 0; i < count && !out.overflow;) {
        if (codePage != CP_UTF8) {
            out.Put(cp1252ToUnicode(bytes[i++]));
            continue;
        }
        char32_t cp = decodeUtf8(bytes, count, i);
        if (cp >= 0x10000) {
            out.Put(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.Put(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.Put(char16_t(cp));
        }
    }
    if (out.overflow) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return out.written;
}
