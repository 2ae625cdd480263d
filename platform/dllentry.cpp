// The DLL entry point: what Windows does around a DLL's DllMain, for a
// shared library.
//
// Divisions, in order:
//   - load notifications: CallDllEntry, which DLL_ENTRY_POINT's constructor
//     and destructor call
//   - thread notifications: DisableThreadLibraryCalls
//
// Where this differs from Windows, and why:
// - DllMain is called by a load-time constructor and an unload-time
//   destructor of the library (see dllentry.h), not by the loader under its
//   lock; the instance handle it gets is the module that holds the code.
// - No thread notifications are sent (DLL_THREAD_ATTACH, DLL_THREAD_DETACH):
//   POSIX has no per-library hook for threads. DisableThreadLibraryCalls has
//   nothing to turn off; it still checks that the module is a real one.
#include "platform/dllentry.h"

#include "platform/lasterror.h"
#include "platform/module.h"

// --- load notifications --------------------------------------------------------------------------

void CallDllEntry(DllEntryFunction entry, const void* address, DWORD reason) {
    entry(ModuleFromAddress(address), reason, nullptr);
}

// --- thread notifications ------------------------------------------------------------------------

BOOL DisableThreadLibraryCalls(HMODULE module) {
    return module != nullptr ? TRUE : Fail(DWORD(ERROR_INVALID_HANDLE), FALSE);
}
