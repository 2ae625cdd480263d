// Text: the lstr functions on NUL-terminated texts, and CharNextA.
//
// Divisions, in order:
//   - lengths and copies: lstrlenA, lstrlenW, lstrcpyA and lstrcpynA
//   - comparison: lstrcmpA and lstrcmpiA
//   - characters: CharNextA
//
// Where this differs from Windows, and why:
// - lstrcmpiA folds case in the Windows-1252 letters only (ASCII and
//   Latin-1, and the few letters of 0x80..0x9F), which is what the
//   locale-aware Windows call gives for these texts; Windows' word sort, which
//   passes over hyphens and apostrophes, is not copied. lstrcmpA compares
//   bytes, where Windows compares by the locale.
// - A text in the ANSI code page has one byte per character (CP_ACP is
//   Windows-1252 here), so CharNextA steps one byte.
// - The lstr functions answer 0 or null for a null text, as on Windows, but
//   do not catch the access violation a bad pointer causes there.
#include "platform/kernel32.h"
#include "platform/user32.h"

#include <climits>

// --- lengths and copies --------------------------------------------------------------------------

int lstrlenA(LPCSTR text) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length > size_t(INT_MAX) ? INT_MAX : int(length);
}

int lstrlenW(LPCWSTR text) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length > size_t(INT_MAX) ? INT_MAX : int(length);
}

LPSTR lstrcpyA(LPSTR target, LPCSTR source) {
    if (target == nullptr || source == nullptr) {
        return nullptr;
    }
    LPSTR out = target;
    while ((*out++ = *source++) != '\0') {
    }
    return target;
}

LPSTR lstrcpynA(LPSTR target, LPCSTR source, int size) {
    if (target == nullptr || source == nullptr) {
        return nullptr;
    }
    if (size <= 0) {
        return target;
    }
    int i = 0;
    for (; i < size - 1 && source[i] != '\0'; ++i) {
        target[i] = source[i];
    }
    target[i] = '\0';
    return target;
}

// --- comparison ----------------------------------------------------------------------------------

namespace {

unsigned char foldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z') {
        return c + 0x20;
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return c + 0x20;
    }
    switch (c) {
    case 0x8A:
        return 0x9A; // S with caron
    case 0x8C:
        return 0x9C; // OE
    case 0x8E:
        return 0x9E; // Z with caron
    case 0x9F:
        return 0xFF; // Y with diaeresis
    default:
        return c;
    }
}

int compareTexts(LPCSTR a, LPCSTR b, bool ignoreCase) {
    if (a == nullptr || b == nullptr) {
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    }
    auto* x = reinterpret_cast<const unsigned char*>(a);
    auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        unsigned char cx = ignoreCase ? foldCase(*x) : *x;
        unsigned char cy = ignoreCase ? foldCase(*y) : *y;
        if (cx != cy) {
            return cx < cy ? -1 : 1;
        }
        if (cx == 0) {
            return 0;
        }
    }
}

} // namespace

int lstrcmpA(LPCSTR a, LPCSTR b) {
    return compareTexts(a, b, false);
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
    return compareTexts(a, b, true);
}

// --- characters ----------------------------------------------------------------------------------

LPSTR CharNextA(LPCSTR text) {
    if (text == nullptr) {
        return nullptr;
    }
    return const_cast<LPSTR>(*text == '\0' ? text : text + 1);
}
