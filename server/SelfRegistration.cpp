// The library's registration exports: what an installer, or regsvr32, calls.
#include "protocol/Identifiers.h"
#include "server/RegistryKey.h"
#include "server/ServerModule.h"

#include <new>

namespace {

// Sets the handler key's "CLSID" (by which a browser finds the handler of the
// URL scheme), creating the key. A key that cannot be
// had is signalled by the standard beep, the only signal registration
// gives; it changes no result.
void setHandlerClass(LPCSTR classIdText) {
    RegistryKey* key = new (std::nothrow) RegistryKey(TRUE, HKEY_CLASSES_ROOT, HandlerKeyPath);
    if (key == nullptr || !key->IsOpen()) {
        MessageBeep(0xFFFFFFFF);
    } else {
        key->SetString("CLSID", classIdText);
    }
    if (key != nullptr) {
        key->Close();
        delete key;
    }
}

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    setHandlerClass(HandlerClassIdText);
    return theModule.RegisterClasses(TRUE);
}

// Leaves the handler key with an empty "CLSID" rather than removing it, and
// reports success whatever could not be removed.
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    setHandlerClass("");
    theModule.UnregisterClasses(TRUE);
    return S_OK;
}
