#include "platform/idna.h"

#include "platform/kernel32.h"
#include "platform/winerror.h"

#include <dlfcn.h>
#include <idn2.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct FreeWithFree {
    void operator()(char* text) const { std::free(text); }
};

// libidn2 is loaded at the first international name, as Windows' IdnToAscii
// is looked up at run time: most URLs name ASCII hosts, and loading libidn2
// with libunistring would cost every process that loads the handler about a
// millisecond. It stays loaded as long as this module.
class Idn2 {
public:
    Idn2() : library(dlopen("libidn2.so.0", RTLD_NOW | RTLD_LOCAL)) {
        if (library != nullptr) {
            toAscii = reinterpret_cast<ToAscii>(dlsym(library, "idn2_to_ascii_8z"));
        }
    }
    ~Idn2() {
        if (library != nullptr) {
            dlclose(library);
        }
    }
    Idn2(const Idn2&) = delete;
    Idn2& operator=(const Idn2&) = delete;

    // idn2_to_ascii_8z; IDN2_ICONV_FAIL when libidn2 cannot be loaded.
    int ToAsciiUtf8(const char* input, char** output, int flags) const {
        return toAscii != nullptr ? toAscii(input, output, flags) : IDN2_ICONV_FAIL;
    }

private:
    typedef int (*ToAscii)(const char* input, char** output, int flags);
    void* library;
    ToAscii toAscii = nullptr;
};

const Idn2& idn2() {
    static Idn2 loaded;
    return loaded;
}

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
    if (idn2().ToAsciiUtf8(utf8.c_str(), &converted, idnFlags) != IDN2_OK) {
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
