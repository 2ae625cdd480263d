// The load notification of a library on POSIX: what Windows does by calling
// a DLL's DllMain when it is loaded into or unloaded from a process, a
// shared library does with a load-time constructor and an unload-time
// destructor.
#pragma once

#include "platform/wintypes.h"

typedef BOOL(WINAPI* DllEntryFunction)(HINSTANCE instance, DWORD reason, LPVOID reserved);

// Calls `entry` with the handle of the module that contains `address`.
void CallDllEntry(DllEntryFunction entry, const void* address, DWORD reason);

// Placed once in a library's source, after its DllMain.
#define DLL_ENTRY_POINT(entry)                                                                     \
    __attribute__((constructor)) static void dllProcessAttach() {                                  \
        CallDllEntry(entry, reinterpret_cast<const void*>(&dllProcessAttach), 1);                  \
    }                                                                                              \
    __attribute__((destructor)) static void dllProcessDetach() {                                   \
        CallDllEntry(entry, reinterpret_cast<const void*>(&dllProcessDetach), 0);                  \
    }
