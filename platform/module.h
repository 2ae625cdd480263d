// kernel32 stand-ins for modules and resources: loading a library, looking up
// a function, a module's file name, and the resources the build compiles into
// a library.
#pragma once

#include "platform/wintypes.h"

#define MAX_PATH 260

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u

HMODULE LoadLibraryA(LPCSTR path);
HMODULE LoadLibraryExA(LPCSTR path, HANDLE reserved, DWORD flags);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
BOOL DisableThreadLibraryCalls(HMODULE module);

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);

// Not a Windows call: the handle of the loaded module that contains the given
// address (what a DLL gets as its instance handle in DllMain on Windows).
HMODULE ModuleFromAddress(const void* address);
