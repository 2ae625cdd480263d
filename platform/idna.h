// IdnToAscii stand-in: international domain names to their ASCII form
// (IDNA, punycode), over libidn2, loaded at the first call.
//
// Where this differs from Windows: the conversion is IDNA2008 with Unicode
// TR46 non-transitional mapping (libidn2's default), where Windows applies
// its own IDNA tables; for the names users type (letters of any script,
// either case) both give the same ASCII form.
#pragma once

#include "platform/wintypes.h"

#define IDN_ALLOW_UNASSIGNED 0x01
#define IDN_USE_STD3_ASCII_RULES 0x02

// Converts `unicodeCount` characters of `unicode` (-1: up to and with its
// NUL) into `ascii`, which holds `asciiSize` characters. Returns the
// characters written, or with `asciiSize` 0 the characters needed; 0 on
// failure (GetLastError: ERROR_INVALID_NAME for a name IDNA refuses,
// ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER).
int IdnToAscii(DWORD flags, LPCWSTR unicode, int unicodeCount, LPWSTR ascii, int asciiSize);
