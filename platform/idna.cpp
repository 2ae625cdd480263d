#include "platform/idna.h"

#include "platform/kernel32.h"
#include "platform/winerror.h"

#include <idn2.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct FreeWithFree {
    void operator()(char* text) const { std::free(text); }
};

int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

} // namespace

int IdnToAscii(DWORD flags, LPCWSTR unicode, int unicodeCount, LPWSTR ascii, int asciiSize) {
    if (unicode == nullptr || unicodeCount == 0 || unicodeCount < -1 || asciiSize < 0 ||
        (asciiSize > 0 && ascii == nullptr) ||
        (flags & ~DWORD(IDN_ALLOW_UNASSIGNED | IDN_USE_STD3_ASCII_RULES)) != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    bool withNul = unicodeCount == -1;
    int count = withNul ? lstrlenW(unicode) : unicodeCount;
    if (count == 0) {
        return fail(ERROR_INVALID_NAME);
    }
    int utf8Size = WideCharToMultiByte(CP_UTF8, 0, unicode, count, nullptr, 0, nullptr, nullptr);
    if (utf8Size <= 0) {
        return fail(ERROR_INVALID_NAME);
    }
    std::string utf8(size_t(utf8Size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, unicode, count, &utf8[0], utf8Size, nullptr, nullptr);
    if (utf8.find('\0') != std::string::npos) {
        return fail(ERROR_INVALID_NAME); // a NUL inside the name
    }
    int idnFlags = IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL;
    if ((flags & IDN_USE_STD3_ASCII_RULES) != 0) {
        idnFlags |= IDN2_USE_STD3_ASCII_RULES;
    }
    char* converted = nullptr;
    if (idn2_to_ascii_8z(utf8.c_str(), &converted, idnFlags) != IDN2_OK) {
        return fail(ERROR_INVALID_NAME);
    }
    std::unique_ptr<char, FreeWithFree> result(converted);
    std::string text(result.get());
    int needed = int(text.size()) + (withNul ? 1 : 0);
    if (asciiSize == 0) {
        return needed;
    }
    if (asciiSize < needed) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    for (size_t i = 0; i < text.size(); ++i) {
        ascii[i] = WCHAR(static_cast<unsigned char>(text[i]));
    }
    if (withNul) {
        ascii[text.size()] = 0;
    }
    return needed;
}
