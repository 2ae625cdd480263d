// Type libraries: LoadTypeLib, RegisterTypeLib and UnRegisterTypeLib, over
// the library's IDL text and the registry stand-ins.
//
// Divisions, in order:
//   - the type library object: an ITypeLib read from IDL text
//   - loading: LoadTypeLib, from a module's resource or a file of IDL text
//   - registry keys: the keys below HKEY_CLASSES_ROOT that registration
//     writes, reads and removes
//   - interfaces: which interfaces are registered with the library, and
//     their keys
//   - registering and unregistering: RegisterTypeLib and UnRegisterTypeLib
//
// Where this differs from Windows, and why:
// - A type library is the library's IDL text, which the POSIX build embeds
//   as the "TYPELIB" resource 1 (the Windows build embeds the binary type
//   library compiled from the same IDL, and no compiler of that format is at
//   hand here). LoadTypeLib reads it from a module file's resources, or from
//   a plain file holding IDL text (how a ".tlb" beside a library works here).
// - The ITypeLib read has only the operations the system calls (GetLibAttr
//   and ReleaseTLibAttr), and RegisterTypeLib registers only a library that
//   LoadTypeLib read (E_INVALIDARG for any other).
// - RegisterTypeLib and UnRegisterTypeLib write and remove the keys that
//   Windows writes for a type library and for the interfaces one of the
//   standard marshalers serves ([oleautomation] and [dual] interfaces,
//   dispinterfaces). UnRegisterTypeLib reads the registered file again to
//   know those interfaces; when that file cannot be read any more, only the
//   library's own keys go.
#include "platform/oleaut32.h"

#include "platform/advapi32.h"
#include "platform/guidtext.h"
#include "platform/idlreader.h"
#include "platform/kernel32.h"
#include "platform/posixfile.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// --- the type library object ---------------------------------------------------------------------

namespace {

// A type library read from IDL text.
class IdlTypeLibrary : public ITypeLib {
public:
    explicit IdlTypeLibrary(idl::Library read) : library(std::move(read)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_ITypeLib) {
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<ITypeLib*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references);
        if (left == 0) {
            delete this;
        }
        return ULONG(left);
    }

    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attributes) override {
        if (attributes == nullptr) {
            return E_INVALIDARG;
        }
        *attributes =
            new (std::nothrow) TLIBATTR{library.guid,         library.lcid,         SYS_WIN32,
                                        library.majorVersion, library.minorVersion, library.flags};
        return *attributes == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attributes) override { delete attributes; }

    const idl::Library library;

private:
    virtual ~IdlTypeLibrary() = default;
    LONG volatile references = 1;
};

} // namespace

// --- loading -------------------------------------------------------------------------------------

namespace {

std::string toAnsi(const OLECHAR* text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::u16string toWide(const std::string& text) {
    int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::u16string out(size_t(size > 0 ? size : 1), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], size);
    out.resize(std::char_traits<char16_t>::length(out.c_str()));
    return out;
}

// The "TYPELIB" resource 1 of a module file.
bool readTypeLibraryResource(const std::string& path, std::string& text) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        return false;
    }
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB");
    HGLOBAL data = resource == nullptr ? nullptr : LoadResource(module, resource);
    if (data != nullptr) {
        text.assign(static_cast<const char*>(LockResource(data)), SizeofResource(module, resource));
    }
    FreeLibrary(module);
    return data != nullptr;
}

} // namespace

HRESULT LoadTypeLib(const OLECHAR* file, ITypeLib** typeLibrary) {
    if (typeLibrary == nullptr) {
        return E_POINTER;
    }
    *typeLibrary = nullptr;
    if (file == nullptr) {
        return E_INVALIDARG;
    }
    try {
        std::string path = toAnsi(file);
        // A module carries its library as a resource; any other file is the
        // library's text itself.
        std::string head;
        if (ReadFileText(path, head, SELFMAG) != ERROR_SUCCESS) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        std::string text;
        bool loaded = head == ELFMAG ? readTypeLibraryResource(path, text)
                                     : ReadFileText(path, text) == ERROR_SUCCESS;
        if (!loaded) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        idl::Library library;
        if (!idl::Read(text, library)) {
            return TYPE_E_INVDATAREAD;
        }
        *typeLibrary = new IdlTypeLibrary(std::move(library));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// --- registry keys -------------------------------------------------------------------------------

namespace {

// Sets a REG_SZ value below HKEY_CLASSES_ROOT, creating the key.
bool setClassesText(const std::string& path, const char* name, const std::string& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LSTATUS status = RegSetValueExA(
        key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool readClassesText(const std::string& path, std::string& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    char buffer[1024];
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    LSTATUS status =
        RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    buffer[size] = '\0';
    text = buffer;
    return true;
}

bool hasSubkeys(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD count = 0;
    LSTATUS status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && count > 0;
}

const char* systemName(SYSKIND system) {
    switch (system) {
    case SYS_WIN16:
        return "win16";
    case SYS_WIN32:
        return "win32";
    case SYS_MAC:
        return "mac";
    case SYS_WIN64:
        return "win64";
    }
    return nullptr;
}

// "major.minor", in hex as the registry keeps library versions.
std::string versionText(WORD major, WORD minor) {
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", major, minor);
    return version;
}

std::string versionKey(const GUID& guid, WORD major, WORD minor) {
    return "TypeLib\\" + FormatGuid(guid) + "\\" + versionText(major, minor);
}

std::string hexText(unsigned long number) {
    char text[16];
    std::snprintf(text, sizeof text, "%lx", number);
    return text;
}

// Deletes a key of HKEY_CLASSES_ROOT when nothing is left below it.
void deleteIfEmpty(const std::string& path) {
    if (!hasSubkeys(path)) {
        RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
    }
}

// Whether a library version key still has a locale below it: a subkey
// other than FLAGS and HELPDIR.
bool hasLocales(const std::string& version) {
    HKEY key = nullptr;
    bool locales = false;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, version.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            locales = locales || (lstrcmpiA(name, "FLAGS") != 0 && lstrcmpiA(name, "HELPDIR") != 0);
        }
        RegCloseKey(key);
    }
    return locales;
}

// --- interfaces ----------------------------------------------------------------------------------

// The universal marshaler serves automation interfaces; dispinterfaces go
// through IDispatch's proxy.
const char* const AutomationProxy = "{00020424-0000-0000-C000-000000000046}";
const char* const DispatchProxy = "{00020420-0000-0000-C000-000000000046}";

// Whether registering the library registers the interface too: only those
// that one of the two marshalers above can serve.
bool registeredWithLibrary(const idl::Interface& declared) {
    return declared.automation || declared.dispatch;
}

bool registerInterface(const idl::Interface& declared, const idl::Library& library) {
    std::string key = "Interface\\" + FormatGuid(declared.iid);
    const char* proxy = declared.dispatch ? DispatchProxy : AutomationProxy;
    return setClassesText(key, nullptr, declared.name) &&
           setClassesText(key + "\\ProxyStubClsid", nullptr, proxy) &&
           setClassesText(key + "\\ProxyStubClsid32", nullptr, proxy) &&
           setClassesText(key + "\\TypeLib", nullptr, FormatGuid(library.guid)) &&
           setClassesText(key + "\\TypeLib", "Version",
                          versionText(library.majorVersion, library.minorVersion));
}

// The interface keys of a library that point back to it.
void unregisterInterfaces(const idl::Library& library) {
    std::string libraryId = FormatGuid(library.guid);
    for (const idl::Interface& declared : library.interfaces) {
        if (!registeredWithLibrary(declared)) {
            continue;
        }
        std::string key = "Interface\\" + FormatGuid(declared.iid);
        std::string owner;
        if (readClassesText(key + "\\TypeLib", owner) &&
            lstrcmpiA(owner.c_str(), libraryId.c_str()) == 0) {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
        }
    }
}

} // namespace

// --- registering and unregistering ---------------------------------------------------------------

HRESULT RegisterTypeLib(ITypeLib* typeLibrary, OLECHAR* fullPath, OLECHAR* helpDirectory) {
    auto* ours = dynamic_cast<IdlTypeLibrary*>(typeLibrary);
    if (ours == nullptr || fullPath == nullptr) {
        return E_INVALIDARG;
    }
    try {
        const idl::Library& library = ours->library;
        std::string key = versionKey(library.guid, library.majorVersion, library.minorVersion);
        bool written =
            (library.helpString.empty() || setClassesText(key, nullptr, library.helpString)) &&
            setClassesText(key + "\\FLAGS", nullptr, std::to_string(library.flags)) &&
            (helpDirectory == nullptr ||
             setClassesText(key + "\\HELPDIR", nullptr, toAnsi(helpDirectory))) &&
            setClassesText(key + "\\" + hexText(library.lcid) + "\\win32", nullptr,
                           toAnsi(fullPath));
        for (const idl::Interface& declared : library.interfaces) {
            if (written && registeredWithLibrary(declared)) {
                written = registerInterface(declared, library);
            }
        }
        return written ? S_OK : TYPE_E_REGISTRYACCESS;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnRegisterTypeLib(REFGUID libraryId, WORD majorVersion, WORD minorVersion, LCID locale,
                          SYSKIND system) {
    const char* kind = systemName(system);
    if (kind == nullptr) {
        return E_INVALIDARG;
    }
    try {
        std::string version = versionKey(libraryId, majorVersion, minorVersion);
        std::string localeKey = version + "\\" + hexText(locale);
        std::string path;
        if (!readClassesText(localeKey + "\\" + kind, path)) {
            return TYPE_E_REGISTRYACCESS;
        }
        // The interfaces to remove are known from the registered file; when
        // that cannot be read any more, only the library's own keys go.
        ITypeLib* registered = nullptr;
        if (SUCCEEDED(LoadTypeLib(toWide(path).c_str(), &registered))) {
            unregisterInterfaces(static_cast<IdlTypeLibrary*>(registered)->library);
            registered->Release();
        }
        RegDeleteKeyA(HKEY_CLASSES_ROOT, (localeKey + "\\" + kind).c_str());
        deleteIfEmpty(localeKey);
        // FLAGS and HELPDIR belong to the version as a whole: they go with
        // the last locale registered under it.
        if (!hasLocales(version)) {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, version.c_str());
        }
        deleteIfEmpty("TypeLib\\" + FormatGuid(libraryId));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
