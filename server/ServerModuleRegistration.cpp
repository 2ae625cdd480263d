// The server module's part in self-registration: the classes' registry
// scripts and the library's type library.
#include "server/ServerModule.h"

namespace {

// Classes with a description are registered some other way and passed over.
bool registersItself(const ObjectMapEntry& entry) {
    return entry.getDescription == nullptr || entry.getDescription() == nullptr;
}

// Where the name of a path's last component starts, in narrow or wide text.
template <typename Char> size_t lastComponentStart(const Char* path) {
    size_t start = 0;
    for (size_t i = 0; path[i] != 0; ++i) {
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') {
            start = i + 1;
        }
    }
    return start;
}

// The same path with the extension ".tlb": the last component's extension
// is replaced, or ".tlb" appended when it has none. `path` has room for the
// four more characters.
void useTypeLibraryExtension(LPSTR path) {
    size_t start = lastComponentStart(path);
    size_t end = start;
    size_t dot = size_t(-1);
    for (; path[end] != '\0'; ++end) {
        if (path[end] == '.') {
            dot = end;
        }
    }
    lstrcpyA(path + (dot != size_t(-1) ? dot : end), ".tlb");
}

HRESULT loadTypeLibrary(LPCSTR path, OLECHAR* widePath, int wideSize, ITypeLib** typeLibrary) {
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, wideSize) == 0) {
        return ResultFromLastError();
    }
    return LoadTypeLib(widePath, typeLibrary);
}

// The library's own type library and the path it was loaded from, given
// back when the scope ends.
class OwnTypeLibrary {
public:
    explicit OwnTypeLibrary(ServerModule& module)
        : result(module.LoadOwnTypeLibrary(&path, &library)) {}
    ~OwnTypeLibrary() {
        if (library != nullptr) {
            library->Release();
        }
        SysFreeString(path);
    }
    OwnTypeLibrary(const OwnTypeLibrary&) = delete;
    OwnTypeLibrary& operator=(const OwnTypeLibrary&) = delete;

    BSTR path = nullptr;
    ITypeLib* library = nullptr;
    const HRESULT result;
};

} // namespace

HRESULT ServerModule::RegisterClasses(BOOL registerTypeLibrary) {
    for (ObjectMapEntry* entry = objectMap; entry != nullptr && entry->classId != nullptr;
         ++entry) {
        if (!registersItself(*entry)) {
            continue;
        }
        if (entry->updateRegistry != nullptr) {
            HRESULT result = entry->updateRegistry(TRUE);
            if (FAILED(result)) {
                return result;
            }
        }
        // Component categories would be registered here; no class of this
        // library belongs to one, and a class that did is not served.
        if (entry->getCategories != nullptr && entry->getCategories() != nullptr) {
            return E_NOTIMPL;
        }
    }
    return registerTypeLibrary ? RegisterTypeLibrary() : S_OK;
}

HRESULT ServerModule::UnregisterClasses(BOOL unregisterTypeLibrary) {
    for (ObjectMapEntry* entry = objectMap; entry != nullptr && entry->classId != nullptr;
         ++entry) {
        if (registersItself(*entry) && entry->updateRegistry != nullptr) {
            entry->updateRegistry(FALSE);
        }
    }
    if (unregisterTypeLibrary) {
        UnregisterTypeLibrary();
    }
    return S_OK;
}

HRESULT ServerModule::LoadOwnTypeLibrary(BSTR* path, ITypeLib** typeLibrary) {
    if (path == nullptr || typeLibrary == nullptr) {
        return E_POINTER;
    }
    *path = nullptr;
    *typeLibrary = nullptr;
    // Room for the name and for the ".tlb" that may replace its extension.
    CHAR fileName[MAX_PATH + 4];
    HRESULT result = GetModulePath(instance, fileName);
    if (FAILED(result)) {
        return result;
    }
    OLECHAR widePath[MAX_PATH + 4];
    const int wideSize = int(sizeof widePath / sizeof widePath[0]);
    result = loadTypeLibrary(fileName, widePath, wideSize, typeLibrary);
    if (FAILED(result)) {
        // The type library may sit beside the library as a file of its own.
        useTypeLibraryExtension(fileName);
        result = loadTypeLibrary(fileName, widePath, wideSize, typeLibrary);
        if (FAILED(result)) {
            return result;
        }
    }
    *path = SysAllocString(widePath);
    if (*path == nullptr) {
        (*typeLibrary)->Release();
        *typeLibrary = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ServerModule::RegisterTypeLibrary() {
    OwnTypeLibrary own(*this);
    if (FAILED(own.result)) {
        return own.result;
    }
    // The help folder is the library's folder, its separator included.
    OLECHAR helpDirectory[MAX_PATH + 4];
    size_t folderLength = lastComponentStart(own.path);
    for (size_t i = 0; i < folderLength; ++i) {
        helpDirectory[i] = own.path[i];
    }
    helpDirectory[folderLength] = 0;
    return RegisterTypeLib(own.library, own.path, helpDirectory);
}

HRESULT ServerModule::UnregisterTypeLibrary() {
    OwnTypeLibrary own(*this);
    if (FAILED(own.result)) {
        return own.result;
    }
    TLIBATTR* attributes = nullptr;
    HRESULT result = own.library->GetLibAttr(&attributes);
    if (FAILED(result)) {
        return result;
    }
    // Looked up at run time, as systems without it exist; where it is
    // missing the registration stays and nothing is reported.
    typedef HRESULT(STDAPICALLTYPE * UnRegisterFunction)(REFGUID, WORD, WORD, LCID, SYSKIND);
    HMODULE automation = LoadLibraryA("oleaut32.dll");
    if (automation != nullptr) {
        auto unregister = reinterpret_cast<UnRegisterFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(automation, "UnRegisterTypeLib")));
        if (unregister != nullptr) {
            unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                       attributes->lcid, attributes->syskind);
        }
        FreeLibrary(automation);
    }
    own.library->ReleaseTLibAttr(attributes);
    return S_OK;
}
