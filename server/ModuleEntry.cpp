// The library's entry points: its load notification and its exports.
#include "server/ObjectMap.h"

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out);
HRESULT STDAPICALLTYPE DllCanUnloadNow();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        theModule.Initialize(objectMap, instance);
        DisableThreadLibraryCalls(instance); // nothing here needs per-thread notifications
        break;
    case DLL_PROCESS_DETACH:
        theModule.Shutdown();
        break;
    default:
        break;
    }
    return TRUE;
}

DLL_ENTRY_POINT(DllMain)

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out) {
    return theModule.FindClassObject(classId, iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    // Threads kept idle for the next request run the library's code too.
    return theModule.GetLockCount() == 0 && ReleaseIdleThreads() ? S_OK : S_FALSE;
}
