// IdnToAscii, found at run time: kernel32 holds it from Vista on, and
// normaliz.dll on older systems that have it at all. The library must load
// where neither does; there the call fails with ERROR_PROC_NOT_FOUND and the
// name goes out as it was. Only the system directory is searched, so that no
// file beside the browser can stand in for a system library.
#include "platform/winapi.h"

namespace {

typedef int(WINAPI* IdnToAsciiFunction)(DWORD, LPCWSTR, int, LPWSTR, int);

IdnToAsciiFunction findIdnToAscii() {
    FARPROC found = nullptr;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel != nullptr) {
        found = GetProcAddress(kernel, "IdnToAscii");
    }
    if (found == nullptr) {
        HMODULE normaliz = LoadLibraryExW(L"normaliz.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (normaliz != nullptr) {
            found = GetProcAddress(normaliz, "IdnToAscii");
        }
    }
    // Through a pointer to a function of no parameters, which may be cast
    // to any function pointer type.
    return reinterpret_cast<IdnToAsciiFunction>(reinterpret_cast<void (*)()>(found));
}

} // namespace

int WINAPI RuntimeIdnToAscii(DWORD flags, LPCWSTR unicode, int unicodeCount, LPWSTR ascii,
                             int asciiSize) {
    static const IdnToAsciiFunction SystemIdnToAscii = findIdnToAscii();
    if (SystemIdnToAscii == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return 0;
    }
    return SystemIdnToAscii(flags, unicode, unicodeCount, ascii, asciiSize);
}
