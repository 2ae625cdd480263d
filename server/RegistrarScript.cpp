#include "server/RegistrarScript.h"

#include "server/ServerModule.h"

#include <new>

namespace {

struct RootKey {
    LPCSTR name;
    HKEY key;
};

const RootKey RootKeys[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

HKEY findRootKey(LPCSTR name) {
    for (const RootKey& root : RootKeys) {
        if (lstrcmpiA(name, root.name) == 0) {
            return root.key;
        }
    }
    return nullptr;
}

bool isKeyword(LPCSTR token, LPCSTR keyword) {
    return lstrcmpiA(token, keyword) == 0;
}

// Only a token that is exactly "{" opens a block: "{5D1C...}" names a key.
bool opensBlock(LPCSTR token) {
    return lstrcmpA(token, "{") == 0;
}

bool isProtectedName(LPCSTR name) {
    return isKeyword(name, "CLSID") || isKeyword(name, "TYPELIB");
}

bool hasBackslash(LPCSTR name) {
    for (LPCSTR p = name; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\') {
            return true;
        }
    }
    return false;
}

LPOLESTR copyWide(LPCOLESTR text) {
    size_t length = size_t(lstrlenW(text));
    LPOLESTR copy = new (std::nothrow) OLECHAR[length + 1];
    if (copy != nullptr) {
        for (size_t i = 0; i <= length; ++i) {
            copy[i] = text[i];
        }
    }
    return copy;
}

// A new[] ANSI copy of a wide text, or null.
LPSTR toAnsi(LPCOLESTR text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    LPSTR ansi = size > 0 ? new (std::nothrow) CHAR[size] : nullptr;
    if (ansi != nullptr &&
        WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, size, nullptr, nullptr) == 0) {
        delete[] ansi;
        ansi = nullptr;
    }
    return ansi;
}

// Moves the first `used` items of `items` into a new array of `capacity`.
template <typename Item> bool reallocate(Item*& items, size_t used, size_t capacity) {
    Item* grown = new (std::nothrow) Item[capacity];
    if (grown == nullptr) {
        return false;
    }
    for (size_t i = 0; i < used; ++i) {
        grown[i] = items[i];
    }
    delete[] items;
    items = grown;
    return true;
}

bool keyHasSubkeys(HKEY key) {
    DWORD subkeys = 0;
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys > 0;
}

// Whether the key has a value other than its default one.
bool keyHasNamedValues(HKEY key) {
    DWORD values = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        values == 0) {
        return false;
    }
    if (values >= 2) {
        return true;
    }
    CHAR name[RegistrarScript::TokenSize];
    DWORD length = sizeof name;
    LONG status = RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    // A name too long for the buffer is certainly not the empty one.
    return status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && name[0] != '\0');
}

} // namespace

// The key a block's statements are working on; closed when the block ends.
class RegistrarScript::CurrentKey {
public:
    CurrentKey() = default;
    ~CurrentKey() { Close(); }
    CurrentKey(const CurrentKey&) = delete;
    CurrentKey& operator=(const CurrentKey&) = delete;

    LONG Close() {
        LONG status = key != nullptr ? RegCloseKey(key) : ERROR_SUCCESS;
        key = nullptr;
        return status;
    }

    HKEY key = nullptr;
};

RegistrarScript::RegistrarScript() {
    token[0] = valueType[0] = valueText[0] = valueName[0] = '\0';
    wideValue[0] = 0;
}

RegistrarScript::~RegistrarScript() {
    ClearReplacements();
    FreeExpanded();
}

// --- variables ----------------------------------------------------------------------------------

HRESULT RegistrarScript::AddReplacement(LPCOLESTR name, LPCOLESTR value) {
    if (name == nullptr || value == nullptr) {
        return E_INVALIDARG;
    }
    if (replacementCount == replacementCapacity) {
        size_t capacity = replacementCapacity == 0 ? 10 : replacementCapacity * 2;
        if (!reallocate(replacements, replacementCount, capacity)) {
            return E_OUTOFMEMORY;
        }
        replacementCapacity = capacity;
    }
    Replacement pair = {copyWide(name), copyWide(value)};
    if (pair.name == nullptr || pair.value == nullptr) {
        delete[] pair.name;
        delete[] pair.value;
        return E_OUTOFMEMORY;
    }
    replacements[replacementCount++] = pair;
    return S_OK;
}

void RegistrarScript::ClearReplacements() {
    for (size_t i = 0; i < replacementCount; ++i) {
        delete[] replacements[i].name;
        delete[] replacements[i].value;
    }
    delete[] replacements;
    replacements = nullptr;
    replacementCount = replacementCapacity = 0;
}

void RegistrarScript::FreeExpanded() {
    delete[] expanded;
    expanded = nullptr;
    expandedLength = expandedCapacity = 0;
    cursor = nullptr;
}

// Every growth is checked: a script that cannot be expanded whole is not
// applied at all.
HRESULT RegistrarScript::AppendExpanded(LPCSTR bytes, size_t count) {
    if (count > expandedCapacity - expandedLength) {
        size_t capacity = expandedCapacity;
        while (count > capacity - expandedLength) {
            if (capacity > size_t(-1) / 2) {
                return E_OUTOFMEMORY;
            }
            capacity *= 2;
        }
        if (!reallocate(expanded, expandedLength, capacity)) {
            return E_OUTOFMEMORY;
        }
        expandedCapacity = capacity;
    }
    for (size_t i = 0; i < count; ++i) {
        expanded[expandedLength++] = bytes[i];
    }
    return S_OK;
}

HRESULT RegistrarScript::AppendReplacement(LPCSTR name) {
    for (size_t i = 0; i < replacementCount; ++i) {
        LPSTR storedName = toAnsi(replacements[i].name);
        if (storedName == nullptr) {
            return E_OUTOFMEMORY;
        }
        bool found = lstrcmpiA(storedName, name) == 0;
        delete[] storedName;
        if (!found) {
            continue;
        }
        LPSTR value = toAnsi(replacements[i].value);
        if (value == nullptr) {
            return E_OUTOFMEMORY;
        }
        HRESULT result = AppendExpanded(value, size_t(lstrlenA(value)));
        delete[] value;
        return result;
    }
    return DISP_E_EXCEPTION;
}

HRESULT RegistrarScript::ExpandVariables(LPCSTR text) {
    FreeExpanded();
    size_t length = size_t(lstrlenA(text));
    if (length > (size_t(-1) - 1) / 2) {
        return E_OUTOFMEMORY;
    }
    expandedCapacity = 2 * length + 1;
    expanded = new (std::nothrow) CHAR[expandedCapacity];
    if (expanded == nullptr) {
        expandedCapacity = 0;
        return E_OUTOFMEMORY;
    }
    HRESULT result = S_OK;
    LPCSTR p = text;
    while (*p != '\0' && SUCCEEDED(result)) {
        if (*p != '%') {
            LPCSTR next = CharNextA(p);
            result = AppendExpanded(p, size_t(next - p));
            p = next;
        } else if (p[1] == '%') {
            result = AppendExpanded("%", 1);
            p += 2;
        } else {
            LPCSTR start = p + 1;
            LPCSTR end = start;
            while (*end != '\0' && *end != '%') {
                end = CharNextA(end);
            }
            if (*end == '\0') {
                result = DISP_E_EXCEPTION;
            } else if (size_t(end - start) > MaxVariableName) {
                result = E_FAIL;
            } else {
                CHAR name[MaxVariableName + 1];
                lstrcpynA(name, start, int(end - start) + 1);
                result = AppendReplacement(name);
                p = end + 1;
            }
        }
    }
    if (SUCCEEDED(result)) {
        result = AppendExpanded("", 1);
    }
    if (FAILED(result)) {
        FreeExpanded();
    }
    return result;
}

// --- tokens --------------------------------------------------------------------------------------

void RegistrarScript::SkipBlanks() {
    while (IsBlankOrLineBreak(*cursor)) {
        ++cursor;
    }
}

// A token into `buffer`: an unquoted one of at most capacity - 1 bytes, or a
// quoted one of at most capacity - 2. A longer token is refused, never cut:
// a cut name would address some other key.
HRESULT RegistrarScript::ReadToken(LPSTR buffer, size_t capacity) {
    SkipBlanks();
    if (*cursor == '\0') {
        return DISP_E_EXCEPTION;
    }
    size_t used = 0;
    if (*cursor == '\'') {
        const size_t room = capacity - 2;
        for (++cursor;;) {
            if (*cursor == '\0') {
                return DISP_E_EXCEPTION;
            }
            if (*cursor == '\'' && cursor[1] != '\'') {
                ++cursor;
                break;
            }
            // Two quotes stand for one.
            LPCSTR next = *cursor == '\'' ? cursor + 2 : CharNextA(cursor);
            size_t count = *cursor == '\'' ? 1 : size_t(next - cursor);
            if (count > room - used) {
                return DISP_E_EXCEPTION;
            }
            for (size_t i = 0; i < count; ++i) {
                buffer[used++] = cursor[i];
            }
            cursor = next;
        }
    } else {
        const size_t room = capacity - 1;
        while (*cursor != '\0' && !IsBlankOrLineBreak(*cursor)) {
            LPCSTR next = CharNextA(cursor);
            size_t count = size_t(next - cursor);
            if (count > room - used) {
                return DISP_E_EXCEPTION;
            }
            for (size_t i = 0; i < count; ++i) {
                buffer[used++] = cursor[i];
            }
            cursor = next;
        }
    }
    buffer[used] = '\0';
    return S_OK;
}

// Reads over "= type value" when the statement token is "=", leaving the
// token after it in the statement token.
HRESULT RegistrarScript::SkipValueAssignment() {
    if (token[0] != '=') {
        return S_OK;
    }
    HRESULT result = ReadToken(token, TokenSize);
    if (SUCCEEDED(result)) {
        result = ReadToken(valueText, TokenSize);
    }
    if (SUCCEEDED(result)) {
        result = ReadToken(token, TokenSize);
    }
    return result;
}

// After "Val": the value's name, then the "=" that must follow it.
HRESULT RegistrarScript::ReadValueName() {
    HRESULT result = ReadToken(valueName, ValueNameSize);
    if (SUCCEEDED(result)) {
        result = ReadToken(token, TokenSize);
    }
    return SUCCEEDED(result) && token[0] != '=' ? DISP_E_EXCEPTION : result;
}

// A "Val" or "Delete" statement takes no block.
HRESULT RegistrarScript::EndValueStatement() {
    return opensBlock(token) ? DISP_E_EXCEPTION : S_OK;
}

// Entered with the "=" just read: reads "type value", writes the value, and
// reads the next token. A value the registry refuses does not fail the
// script; a value the script cannot express does.
HRESULT RegistrarScript::WriteValue(HKEY key, LPCSTR name) {
    HRESULT result = ReadToken(valueType, TokenSize);
    if (FAILED(result)) {
        return result;
    }
    bool isText = isKeyword(valueType, "S");
    bool isNumber = isKeyword(valueType, "D");
    bool isBinary = isKeyword(valueType, "B");
    if (!isText && !isNumber && !isBinary) {
        return DISP_E_EXCEPTION;
    }
    result = ReadToken(valueText, TokenSize);
    if (FAILED(result)) {
        return result;
    }
    size_t length = size_t(lstrlenA(valueText));
    if (isText) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(valueText),
                       DWORD(length + 1));
    } else if (isNumber) {
        ULONG number = 0;
        if (MultiByteToWideChar(CP_ACP, 0, valueText, -1, wideValue, int(TokenSize)) == 0 ||
            FAILED(VarUI4FromStr(wideValue, 0, 0, &number))) {
            return DISP_E_EXCEPTION;
        }
        DWORD data = DWORD(number);
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    } else {
        if (length % 2 != 0) {
            return E_FAIL;
        }
        BYTE bytes[TokenSize / 2] = {};
        for (size_t i = 0; i < length; ++i) {
            CHAR c = valueText[i];
            int value = HexDigitValue(c);
            BYTE digit = value < 0 ? 0 : BYTE(value);
            bytes[i / 2] |= (i % 2 == 0) ? BYTE(digit << 4) : digit;
        }
        RegSetValueExA(key, name, 0, REG_BINARY, bytes, DWORD(length / 2));
    }
    return ReadToken(token, TokenSize);
}

// --- the register pass ---------------------------------------------------------------------------

HRESULT RegistrarScript::RegisterBlock(HKEY parentKey, size_t depth) {
    if (depth > MaxBlockDepth) {
        return DISP_E_EXCEPTION;
    }
    CurrentKey current;
    HRESULT result = ReadToken(token, TokenSize);
    while (SUCCEEDED(result) && token[0] != '}') {
        result = RegisterStatement(parentKey, current, depth);
    }
    return result;
}

HRESULT RegistrarScript::RegisterStatement(HKEY parentKey, CurrentKey& current, size_t depth) {
    HRESULT result = S_OK;
    bool forceRemove = isKeyword(token, "ForceRemove");
    if (forceRemove || isKeyword(token, "Delete")) {
        result = ReadToken(token, TokenSize);
        if (SUCCEEDED(result) && hasBackslash(token)) {
            result = DISP_E_EXCEPTION;
        }
        if (FAILED(result)) {
            return result;
        }
        if (!isProtectedName(token)) {
            DeleteKeyTree(parentKey, token);
        }
        if (!forceRemove) {
            result = ReadToken(token, TokenSize);
            if (SUCCEEDED(result)) {
                result = SkipValueAssignment();
            }
            return SUCCEEDED(result) ? EndValueStatement() : result;
        }
    } else if (isKeyword(token, "NoRemove")) {
        result = ReadToken(token, TokenSize);
    } else if (isKeyword(token, "Val")) {
        result = ReadValueName();
        if (SUCCEEDED(result)) {
            result = WriteValue(parentKey, valueName);
        }
        return SUCCEEDED(result) ? EndValueStatement() : result;
    }
    if (FAILED(result)) {
        return result;
    }

    // A key statement: open the key as it is, or create it.
    if (hasBackslash(token) || current.Close() != ERROR_SUCCESS) {
        return DISP_E_EXCEPTION;
    }
    if (RegOpenKeyExA(parentKey, token, 0, KEY_ALL_ACCESS, &current.key) != ERROR_SUCCESS &&
        RegOpenKeyExA(parentKey, token, 0, KEY_READ, &current.key) != ERROR_SUCCESS) {
        DWORD disposition = 0;
        if (RegCreateKeyExA(parentKey, token, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &current.key, &disposition) != ERROR_SUCCESS) {
            current.key = nullptr;
            return DISP_E_EXCEPTION;
        }
    }
    result = ReadToken(token, TokenSize);
    if (SUCCEEDED(result) && token[0] == '=') {
        result = WriteValue(current.key, nullptr);
    }
    if (SUCCEEDED(result) && opensBlock(token)) {
        result = RegisterBlock(current.key, depth + 1);
        if (SUCCEEDED(result)) {
            result = ReadToken(token, TokenSize);
        }
    }
    return result;
}

// --- the unregister pass -------------------------------------------------------------------------

// `missing`: the block's key does not exist, so nothing in it is removed,
// but its statements are still read.
HRESULT RegistrarScript::UnregisterBlock(HKEY parentKey, bool missing, size_t depth) {
    if (depth > MaxBlockDepth) {
        return DISP_E_EXCEPTION;
    }
    CurrentKey current;
    bool mayDelete = true; // until a "NoRemove" in this block
    HRESULT result = ReadToken(token, TokenSize);
    while (SUCCEEDED(result) && token[0] != '}') {
        result = UnregisterStatement(parentKey, current, missing, mayDelete, depth);
    }
    return result;
}

HRESULT RegistrarScript::UnregisterStatement(HKEY parentKey, CurrentKey& current,
                                             bool parentMissing, bool& mayDelete, size_t depth) {
    HRESULT result = S_OK;
    if (isKeyword(token, "ForceRemove") || isKeyword(token, "Delete")) {
        result = ReadToken(token, TokenSize);
    } else if (isKeyword(token, "NoRemove")) {
        mayDelete = false;
        result = ReadToken(token, TokenSize);
    } else if (isKeyword(token, "Val")) {
        result = ReadValueName();
        if (SUCCEEDED(result) && !parentMissing) {
            RegDeleteValueA(parentKey, valueName);
        }
        if (SUCCEEDED(result)) {
            result = SkipValueAssignment();
        }
        return SUCCEEDED(result) ? EndValueStatement() : result;
    }
    if (FAILED(result)) {
        return result;
    }
    if (hasBackslash(token)) {
        return DISP_E_EXCEPTION;
    }
    // The name is kept whole: a shortened name would remove some other key.
    size_t length = size_t(lstrlenA(token));
    LPSTR keyName = new (std::nothrow) CHAR[length + 1];
    if (keyName == nullptr) {
        return E_OUTOFMEMORY;
    }
    lstrcpynA(keyName, token, int(length + 1));
    result = RemoveKeyStatement(parentKey, current, keyName, parentMissing, mayDelete, depth);
    delete[] keyName;
    return result;
}

// A key statement of the unregister pass, with the key's name just read.
// A key that is missing marks only its own block as missing: the statements
// after it are looked up again.
HRESULT RegistrarScript::RemoveKeyStatement(HKEY parentKey, CurrentKey& current, LPCSTR keyName,
                                            bool parentMissing, bool mayDelete, size_t depth) {
    bool missing = parentMissing;
    if (!missing) {
        if (current.Close() != ERROR_SUCCESS) {
            return DISP_E_EXCEPTION;
        }
        // Its "Val" values are removed through this handle, which therefore
        // asks to write where it may.
        if (RegOpenKeyExA(parentKey, keyName, 0, KEY_READ | KEY_SET_VALUE, &current.key) !=
                ERROR_SUCCESS &&
            RegOpenKeyExA(parentKey, keyName, 0, KEY_READ, &current.key) != ERROR_SUCCESS) {
            current.key = nullptr;
            missing = true;
        }
    }
    // An empty key goes at once; its block can name nothing that exists.
    bool emptyKey = !missing && !keyHasSubkeys(current.key) && !keyHasNamedValues(current.key);
    if (emptyKey) {
        if (current.Close() != ERROR_SUCCESS) {
            return DISP_E_EXCEPTION;
        }
        if (mayDelete) {
            RegDeleteKeyA(parentKey, keyName);
        }
    }
    HRESULT result = ReadToken(token, TokenSize);
    if (SUCCEEDED(result)) {
        result = SkipValueAssignment();
    }
    if (SUCCEEDED(result) && opensBlock(token)) {
        result = UnregisterBlock(current.key, missing || emptyKey, depth + 1);
        if (SUCCEEDED(result)) {
            result = ReadToken(token, TokenSize);
        }
    }
    if (FAILED(result) || missing || emptyKey) {
        return result;
    }
    // Its block has removed what the script wrote; subkeys that are left
    // belong to someone else, and keep the key.
    if (keyHasSubkeys(current.key)) {
        return S_OK;
    }
    if (current.Close() != ERROR_SUCCESS) {
        return DISP_E_EXCEPTION;
    }
    if (mayDelete) {
        RegDeleteKeyA(parentKey, keyName);
    }
    return S_OK;
}

// --- whole scripts -------------------------------------------------------------------------------

HRESULT RegistrarScript::ApplyText(LPCSTR text, BOOL doRegister) {
    if (text == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT result = ExpandVariables(text);
    if (FAILED(result)) {
        return result;
    }
    cursor = expanded;
    while (*cursor != '\0') {
        result = ReadToken(token, TokenSize);
        if (FAILED(result)) {
            break;
        }
        HKEY root = findRootKey(token);
        if (root == nullptr) {
            result = DISP_E_EXCEPTION;
            break;
        }
        result = ReadToken(token, TokenSize);
        if (SUCCEEDED(result) && token[0] != '{') {
            result = DISP_E_EXCEPTION;
        }
        if (FAILED(result)) {
            break;
        }
        if (doRegister) {
            // A root block that fails is reverted whole; the ones before it
            // stay applied.
            LPCSTR blockStart = cursor;
            result = RegisterBlock(root, 1);
            if (FAILED(result)) {
                cursor = blockStart;
                // The rollback does what it can; the failure that made it
                // necessary is the one reported.
                (void)UnregisterBlock(root, false, 1);
                break;
            }
        } else {
            result = UnregisterBlock(root, false, 1);
            if (FAILED(result)) {
                break;
            }
        }
        SkipBlanks();
    }
    FreeExpanded();
    return result;
}

HRESULT RegistrarScript::ApplyResource(LPCOLESTR modulePath, UINT resourceId, LPCSTR resourceType,
                                       BOOL doRegister) {
    LPSTR path = modulePath != nullptr ? toAnsi(modulePath) : nullptr;
    if (path == nullptr) {
        return modulePath != nullptr ? E_OUTOFMEMORY : E_INVALIDARG;
    }
    HMODULE library = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    delete[] path;
    if (library == nullptr) {
        return ResultFromLastError();
    }
    HRSRC resource = FindResourceA(library, MAKEINTRESOURCEA(resourceId), resourceType);
    HGLOBAL data = resource != nullptr ? LoadResource(library, resource) : nullptr;
    if (data == nullptr) {
        HRESULT result = ResultFromLastError();
        FreeLibrary(library);
        return result;
    }
    // The resource has no terminating NUL, and the byte after it may not be
    // ours to read: the text is always copied and terminated.
    DWORD size = SizeofResource(library, resource);
    const CHAR* bytes = static_cast<const CHAR*>(LockResource(data));
    LPSTR text = size < DWORD(-1) ? new (std::nothrow) CHAR[size_t(size) + 1] : nullptr;
    HRESULT result = E_OUTOFMEMORY;
    if (text != nullptr) {
        for (DWORD i = 0; i < size; ++i) {
            text[i] = bytes[i];
        }
        text[size] = '\0';
        result = ApplyText(text, doRegister);
        delete[] text;
    }
    FreeLibrary(library);
    return result;
}

HRESULT RegistrarScript::ApplyModuleScript(HMODULE module, UINT resourceId, BOOL doRegister) {
    // Without the module's own file name there is no path to register and no
    // script to read: that is the platform's error, not an empty path.
    CHAR longName[MAX_PATH];
    HRESULT result = GetModulePath(module, longName);
    if (FAILED(result)) {
        return result;
    }
    // A file without a short form is registered by its long name.
    CHAR shortName[MAX_PATH];
    DWORD length = GetShortPathNameA(longName, shortName, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        lstrcpynA(shortName, longName, MAX_PATH);
    }
    WCHAR path[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, shortName, -1, path, MAX_PATH) == 0) {
        return ResultFromLastError();
    }
    // %MODULE% stands inside a quoted token, where a quote is written twice.
    WCHAR quoted[2 * MAX_PATH];
    size_t used = 0;
    for (const WCHAR* c = path; *c != 0; ++c) {
        if (*c == '\'') {
            quoted[used++] = '\'';
        }
        quoted[used++] = *c;
    }
    quoted[used] = 0;
    result = AddReplacement(WIDE_TEXT("Module"), quoted);
    if (SUCCEEDED(result)) {
        result = ApplyResource(path, resourceId, "REGISTRY", doRegister);
    }
    ClearReplacements();
    return result;
}

LONG RegistrarScript::DeleteKeyTree(HKEY parent, LPCSTR name) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Index 0 every time: the subkey before has gone.
    CHAR subkey[256];
    for (;;) {
        DWORD length = sizeof subkey;
        if (RegEnumKeyExA(key, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        status = DeleteKeyTree(key, subkey);
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return status;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyA(parent, name);
}

HRESULT UpdateRegistryFromResource(UINT resourceId, BOOL doRegister) {
    RegistrarScript* script = new (std::nothrow) RegistrarScript();
    if (script == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT result = script->ApplyModuleScript(theModule.GetInstance(), resourceId, doRegister);
    delete script;
    return result;
}
