#include "platform/dllentry.h"

#include "platform/module.h"

void CallDllEntry(DllEntryFunction entry, const void* address, DWORD reason) {
    entry(ModuleFromAddress(address), reason, nullptr);
}
