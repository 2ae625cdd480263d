// The one header through which hollin reaches the Windows API.
//
// On Windows it brings in the real headers. Everywhere else it brings in
// hollin's own stand-ins (the other headers of this folder), which give the
// same names with the semantics the system relies on. Nothing outside this
// folder knows which of the two it got.
#pragma once

#include "platform/chars.h"

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// Vista's socket calls (WSAPoll) are used; Wine and every supported Windows
// have them.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <urlmon.h>

// IdnToAscii is looked up at run time (platform/idna_windows.cpp), so that
// the library loads on a Windows without it; code calls it by its own name.
int WINAPI RuntimeIdnToAscii(DWORD flags, LPCWSTR unicode, int unicodeCount, LPWSTR ascii,
                             int asciiSize);
#define IdnToAscii RuntimeIdnToAscii

// Windows starts a thread for every CreateThread and keeps none idle in the
// module (see ReleaseIdleThreads in platform/kernel32.h).
inline BOOL ReleaseIdleThreads() {
    return TRUE;
}

// Windows has no call that makes private memory present at once; its pages
// fault in as they are touched (see PopulateMemory in platform/kernel32.h).
inline BOOL PopulateMemory(void*, SIZE_T) {
    return FALSE;
}

// A wide string literal in the platform's wide character type.
#define WIDE_TEXT(s) L##s
// Windows calls DllMain itself.
#define DLL_ENTRY_POINT(entry)

#else

#include "platform/wintypes.h"
#include "platform/kernel32.h"
#include "platform/fileapi.h"
#include "platform/user32.h"
#include "platform/ws2_32.h"
#include "platform/advapi32.h"
#include "platform/ole32.h"
#include "platform/oleaut32.h"
#include "platform/urlmon.h"
#include "platform/dllentry.h"
#include "platform/idna.h"

// WCHAR is UTF-16 here as on Windows, so wide literals are char16_t ones.
#define WIDE_TEXT(s) u##s

#endif

// Both builds: one HTTP GET (WinHTTP or libcurl underneath).
#include "platform/http.h"
