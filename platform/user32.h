// user32 stand-ins: the standard beep and the next-character rule.
#pragma once

#include "platform/wintypes.h"

#define MB_OK 0x00000000u

// Counts each beep (see MessageBeepCount) and rings the terminal's bell when
// standard error is a terminal.
BOOL MessageBeep(UINT type);
// Windows-1252 has one byte per character: the next character is one byte on,
// except at the terminating NUL, which has no next character.
LPSTR CharNextA(LPCSTR text);

// Not a Windows call: how many times MessageBeep has been called in this
// process, so that tests can tell whether a beep was given.
unsigned long MessageBeepCount();
