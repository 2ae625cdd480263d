// oleaut32 stand-ins.
#include "platform/oleaut32.h"

#include "platform/advapi32.h"
#include "platform/chars.h"
#include "platform/idlreader.h"
#include "platform/kernel32.h"
#include "platform/posixfile.h"

#include <elf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// --- system strings ---------------------------------------------------------------------

namespace {

BSTR allocString(const OLECHAR* text, UINT length) {
    if (length > (0x7FFFFFFFu - sizeof(uint32_t)) / sizeof(OLECHAR) - 1) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(
        std::malloc(sizeof(uint32_t) + (size_t(length) + 1) * sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    uint32_t bytes = uint32_t(length * sizeof(OLECHAR));
    std::memcpy(block, &bytes, sizeof bytes);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
    if (text != nullptr) {
        std::memcpy(chars, text, length * sizeof(OLECHAR));
    } else {
        std::memset(chars, 0, length * sizeof(OLECHAR));
    }
    chars[length] = 0;
    return chars;
}

} // namespace

BSTR SysAllocString(const OLECHAR* text) {
    return text == nullptr ? nullptr : allocString(text, UINT(lstrlenW(text)));
}

void SysFreeString(BSTR text) {
    if (text != nullptr) {
        std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
    }
}

// --- numbers ---------------------------------------------------------------------------------

namespace {

bool isDigit(OLECHAR c) {
    return c >= '0' && c <= '9';
}

int digitValue(OLECHAR c, int base) {
    int value = HexDigitValue(c);
    return value >= 0 && value < base ? value : -1;
}

// "&H..." or "&O...": digits of one base, no sign, no fraction.
HRESULT readPrefixedNumber(const OLECHAR*& p, ULONG& out) {
    int base = (p[1] == 'H' || p[1] == 'h') ? 16 : (p[1] == 'O' || p[1] == 'o') ? 8 : 0;
    if (base == 0 || digitValue(p[2], base) < 0) {
        return DISP_E_TYPEMISMATCH;
    }
    uint64_t value = 0;
    for (p += 2; digitValue(*p, base) >= 0; ++p) {
        value = value * unsigned(base) + unsigned(digitValue(*p, base));
        if (value > 0xFFFFFFFFull) {
            return DISP_E_OVERFLOW;
        }
    }
    out = ULONG(value);
    return S_OK;
}

// A decimal number: digits with thousands separators, a fraction, an
// exponent; rounded half to even.
HRESULT readDecimalNumber(const OLECHAR*& p, bool negative, ULONG& out) {
    std::string digits; // significant digits, without leading zeros
    long exponent = 0;  // value = digits x 10^exponent
    bool sawDigit = false;
    for (; isDigit(*p) || (*p == ',' && sawDigit); ++p) {
        if (isDigit(*p)) {
            sawDigit = true;
            if (!digits.empty() || *p != '0') {
                digits += char(*p);
            }
        }
    }
    if (*p == '.') {
        for (++p; isDigit(*p); ++p) {
            sawDigit = true;
            if (!digits.empty() || *p != '0') {
                digits += char(*p);
            }
            --exponent;
        }
    }
    if (!sawDigit) {
        return DISP_E_TYPEMISMATCH;
    }
    if ((*p == 'e' || *p == 'E') &&
        (isDigit(p[1]) || ((p[1] == '+' || p[1] == '-') && isDigit(p[2])))) {
        bool down = p[1] == '-';
        p += (p[1] == '+' || p[1] == '-') ? 2 : 1;
        long power = 0;
        for (; isDigit(*p); ++p) {
            power = power < 100000 ? power * 10 + (*p - '0') : power;
        }
        exponent += down ? -power : power;
    }
    long integerDigits = long(digits.size()) + exponent;
    if (digits.empty() || integerDigits < 0) {
        out = 0;
        return S_OK;
    }
    if (integerDigits > 10) {
        return DISP_E_OVERFLOW;
    }
    uint64_t value = 0;
    for (long i = 0; i < integerDigits; ++i) {
        value = value * 10 + (i < long(digits.size()) ? unsigned(digits[size_t(i)] - '0') : 0);
    }
    if (integerDigits < long(digits.size())) {
        char first = digits[size_t(integerDigits)];
        bool restNonZero =
            digits.find_first_not_of('0', size_t(integerDigits) + 1) != std::string::npos;
        if (first > '5' || (first == '5' && (restNonZero || value % 2 == 1))) {
            ++value;
        }
    }
    if (value > 0xFFFFFFFFull || (negative && value != 0)) {
        return DISP_E_OVERFLOW;
    }
    out = ULONG(value);
    return S_OK;
}

} // namespace

HRESULT VarUI4FromStr(OLECHAR* text, LCID, ULONG, ULONG* out) {
    if (text == nullptr || out == nullptr) {
        return E_INVALIDARG;
    }
    const OLECHAR* p = text;
    while (IsBlankOrLineBreak(*p)) {
        ++p;
    }
    ULONG value = 0;
    HRESULT result;
    if (*p == '&') {
        result = readPrefixedNumber(p, value);
    } else {
        bool negative = *p == '-';
        if (*p == '-' || *p == '+') {
            ++p;
        }
        result = readDecimalNumber(p, negative, value);
    }
    while (SUCCEEDED(result) && IsBlankOrLineBreak(*p)) {
        ++p;
    }
    if (SUCCEEDED(result) && *p != 0) {
        result = DISP_E_TYPEMISMATCH;
    }
    if (SUCCEEDED(result)) {
        *out = value;
    }
    return result;
}

// --- type libraries ------------------------------------------------------------------------

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
    return "TypeLib\\" + idl::formatGuid(guid) + "\\" + versionText(major, minor);
}

std::string hexText(unsigned long number) {
    char text[16];
    std::snprintf(text, sizeof text, "%lx", number);
    return text;
}

// The universal marshaler serves automation interfaces; dispinterfaces go
// through IDispatch's proxy.
const char* const automationProxy = "{00020424-0000-0000-C000-000000000046}";
const char* const dispatchProxy = "{00020420-0000-0000-C000-000000000046}";

// Whether registering the library registers the interface too: only those
// that one of the two marshalers above can serve.
bool registeredWithLibrary(const idl::Interface& declared) {
    return declared.automation || declared.dispatch;
}

bool registerInterface(const idl::Interface& declared, const idl::Library& library) {
    std::string key = "Interface\\" + idl::formatGuid(declared.iid);
    const char* proxy = declared.dispatch ? dispatchProxy : automationProxy;
    return setClassesText(key, nullptr, declared.name) &&
           setClassesText(key + "\\ProxyStubClsid", nullptr, proxy) &&
           setClassesText(key + "\\ProxyStubClsid32", nullptr, proxy) &&
           setClassesText(key + "\\TypeLib", nullptr, idl::formatGuid(library.guid)) &&
           setClassesText(key + "\\TypeLib", "Version",
                          versionText(library.majorVersion, library.minorVersion));
}

// The interface keys of a library that point back to it.
void unregisterInterfaces(const idl::Library& library) {
    std::string libraryId = idl::formatGuid(library.guid);
    for (const idl::Interface& declared : library.interfaces) {
        if (!registeredWithLibrary(declared)) {
            continue;
        }
        std::string key = "Interface\\" + idl::formatGuid(declared.iid);
        std::string owner;
        if (readClassesText(key + "\\TypeLib", owner) &&
            lstrcmpiA(owner.c_str(), libraryId.c_str()) == 0) {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
        }
    }
}

// Deletes a key of HKEY_CLASSES_ROOT when nothing is left below it.
void deleteIfEmpty(const std::string& path) {
    if (!hasSubkeys(path)) {
        RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
    }
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
        if (readFileText(path, head, nullptr, SELFMAG) != ERROR_SUCCESS) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        std::string text;
        bool loaded = head == ELFMAG ? readTypeLibraryResource(path, text)
                                     : readFileText(path, text) == ERROR_SUCCESS;
        if (!loaded) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        idl::Library library;
        if (!idl::read(text, library)) {
            return TYPE_E_INVDATAREAD;
        }
        *typeLibrary = new IdlTypeLibrary(std::move(library));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

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
        HKEY key = nullptr;
        bool otherLocales = false;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, version.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            char name[256];
            for (DWORD i = 0;; ++i) {
                DWORD length = sizeof name;
                if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_SUCCESS) {
                    break;
                }
                otherLocales = otherLocales ||
                               (lstrcmpiA(name, "FLAGS") != 0 && lstrcmpiA(name, "HELPDIR") != 0);
            }
            RegCloseKey(key);
        }
        if (!otherLocales) {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, version.c_str());
        }
        deleteIfEmpty("TypeLib\\" + idl::formatGuid(libraryId));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
