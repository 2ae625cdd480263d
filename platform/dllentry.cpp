#include "platform/dllentry.h"

#include "platform/module.h"

#include <dlfcn.h>

void CallDllEntry(DllEntryFunction entry, const void* address, DWORD reason) {
    entry(ModuleFromAddress(address), reason, nullptr);
}

// Interim: the loader stand-ins of module.h arrive with the registry work.
HMODULE ModuleFromAddress(const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0) {
        return nullptr;
    }
    return static_cast<HMODULE>(info.dli_fbase);
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    return module != nullptr ? TRUE : FALSE;
}
