// The library's one module-wide object: its instance handle, its table of
// creatable classes, and the lock count that decides when it may be unloaded.
#pragma once

#include "platform/winapi.h"
#include "support/ModuleLock.h"

typedef HRESULT (*CreateInstanceFunction)(IUnknown* outer, REFIID iid, void** out);
typedef HRESULT (*CreateClassObjectFunction)(CreateInstanceFunction creator, REFIID iid,
                                             void** out);
typedef HRESULT (*UpdateRegistryFunction)(BOOL doRegister);
typedef LPCSTR (*GetDescriptionFunction)();
typedef const void* (*GetCategoriesFunction)();
typedef void (*ClassInitFunction)(BOOL starting);

// A row of the class table; the table ends at the first row whose classId is
// null.
struct ObjectMapEntry {
    const CLSID* classId;
    UpdateRegistryFunction updateRegistry;
    CreateClassObjectFunction createClassObject;
    CreateInstanceFunction createInstance;
    IUnknown* classObject; // cached; null until first asked for
    GetDescriptionFunction getDescription;
    GetCategoriesFunction getCategories;
    ClassInitFunction classInit;
};

class ServerModule {
public:
    HRESULT Initialize(ObjectMapEntry* objectMap, HINSTANCE instance);
    HRESULT Shutdown();

    // The module's lock count (support/ModuleLock.h).
    void IncrementLock() { LockModule(); }
    void DecrementLock() { UnlockModule(); }
    LONG GetLockCount() const { return ModuleLockCount(); }

    [[nodiscard]] HRESULT FindClassObject(REFCLSID classId, REFIID iid, void** out);

    // Self-registration: the classes' registry scripts and the type library.
    [[nodiscard]] HRESULT RegisterClasses(BOOL registerTypeLibrary);
    HRESULT UnregisterClasses(BOOL unregisterTypeLibrary);
    [[nodiscard]] HRESULT LoadOwnTypeLibrary(BSTR* path, ITypeLib** typeLibrary);
    [[nodiscard]] HRESULT RegisterTypeLibrary();
    HRESULT UnregisterTypeLibrary();

    HINSTANCE GetInstance() const { return instance; }
    ObjectMapEntry* GetObjectMap() const { return objectMap; }

private:
    HINSTANCE instance = nullptr;
    ObjectMapEntry* objectMap = nullptr;
    CRITICAL_SECTION classObjectLock = {};
};

// The library's module object.
extern ServerModule theModule;

// The calling thread's last error as a result; E_FAIL when the platform left
// no code, so that a failure never reads as success.
[[nodiscard]] HRESULT ResultFromLastError();

// The file name of `module` in `path`, which has room for MAX_PATH
// characters. A name that does not fit is an error, not a cut name.
[[nodiscard]] HRESULT GetModulePath(HMODULE module, LPSTR path);
