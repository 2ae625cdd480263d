// The module's lock count: how many things still use the library (live
// protocol objects, requests still running after their object let them go,
// class objects a client holds, LockServer calls). The host may unload the
// library only while it is 0.
//
// It lives here, below the protocol objects and the server module, because
// both change it and neither may include the other's headers.
#pragma once

#include "platform/winapi.h"

// Each change is one interlocked step; the count is never checked against
// going below 0 (DllCanUnloadNow then keeps the library loaded).
void LockModule();
void UnlockModule();
// An atomic read: other threads change the count while it is asked.
LONG ModuleLockCount();
// Back to 0, when the module is set up.
void ResetModuleLockCount();
