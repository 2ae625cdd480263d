#include "support/ModuleLock.h"

namespace {

LONG volatile lockCount = 0;

} // namespace

void LockModule() {
    InterlockedIncrement(&lockCount);
}

void UnlockModule() {
    InterlockedDecrement(&lockCount);
}

LONG ModuleLockCount() {
    return __atomic_load_n(&lockCount, __ATOMIC_SEQ_CST);
}

void ResetModuleLockCount() {
    __atomic_store_n(&lockCount, 0, __ATOMIC_SEQ_CST);
}
