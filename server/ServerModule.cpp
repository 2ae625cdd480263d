#include "server/ServerModule.h"

ServerModule theModule;

HRESULT ResultFromLastError() {
    DWORD error = GetLastError();
    return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

HRESULT GetModulePath(HMODULE module, LPSTR path) {
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0) {
        return ResultFromLastError();
    }
    return length < MAX_PATH ? S_OK : HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
}

HRESULT ServerModule::Initialize(ObjectMapEntry* map, HINSTANCE moduleInstance) {
    instance = moduleInstance;
    objectMap = map;
    ResetModuleLockCount();
    InitializeCriticalSection(&classObjectLock);
    for (ObjectMapEntry* entry = objectMap; entry != nullptr && entry->classId != nullptr;
         ++entry) {
        if (entry->classInit != nullptr) {
            entry->classInit(TRUE);
        }
    }
    return S_OK;
}

HRESULT ServerModule::Shutdown() {
    for (ObjectMapEntry* entry = objectMap; entry != nullptr && entry->classId != nullptr;
         ++entry) {
        if (entry->classObject != nullptr) {
            entry->classObject->Release();
            entry->classObject = nullptr;
        }
        if (entry->classInit != nullptr) {
            entry->classInit(FALSE);
        }
    }
    DeleteCriticalSection(&classObjectLock);
    return S_OK;
}

HRESULT ServerModule::FindClassObject(REFCLSID classId, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    HRESULT result = S_OK;
    for (ObjectMapEntry* entry = objectMap; entry != nullptr && entry->classId != nullptr;
         ++entry) {
        if (entry->createClassObject == nullptr || !IsEqualCLSID(*entry->classId, classId)) {
            continue;
        }
        // Tested without the lock, then again under it, so that two threads
        // asking at once create the class object only once.
        if (entry->classObject == nullptr) {
            EnterCriticalSection(&classObjectLock);
            if (entry->classObject == nullptr) {
                result = entry->createClassObject(entry->createInstance, IID_IUnknown,
                                                  reinterpret_cast<void**>(&entry->classObject));
            }
            LeaveCriticalSection(&classObjectLock);
        }
        if (entry->classObject != nullptr) {
            result = entry->classObject->QueryInterface(iid, out);
        }
        break;
    }
    if (*out == nullptr && result == S_OK) {
        result = CLASS_E_CLASSNOTAVAILABLE;
    }
    return result;
}
