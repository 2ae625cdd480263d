// The registry calls (advapi32), over the registry file.
//
// Divisions, in order:
//   - key handles: what a handle names, and the handles this process holds
//   - paths: key paths and names, and the key they lead to
//   - reading and changing: running a call on the registry as it is now
//   - opening and closing keys: RegCreateKeyExA, RegOpenKeyExA, RegCloseKey
//   - values: RegSetValueExA, RegQueryValueExA and RegDeleteValueA
//   - deleting keys: RegDeleteKeyA and RegDeleteTreeA
//   - enumerating: RegEnumKeyExA, RegEnumValueA and RegQueryInfoKeyA
//   - installations: BeginRegistryInstallation and EndRegistryInstallation
//
// A key handle names its key by root and path, together with the access it
// was opened with. Each call finds the key again in the file as it is now; a
// key that is no longer there answers ERROR_KEY_DELETED, and so does a handle
// to a key that this process deleted, even when a key of the same name has
// been created since (as on Windows, where the handle belongs to the old key).
// As on Windows, opening, creating and deleting through a handle need no
// particular access on it; reading values and enumerating need the read
// rights, setting and deleting values KEY_SET_VALUE.
//
// Where this differs from Windows, and why:
// - HKEY_CLASSES_ROOT is a root of its own, not a view merged from the
//   machine's and the user's classes; HKEY_PERFORMANCE_DATA and
//   HKEY_DYN_DATA hold no keys and refuse every call with
//   ERROR_INVALID_HANDLE.
// - Keys have no class strings, no security and only non-volatile storage
//   (REG_OPTION_NON_VOLATILE); the last write time reported is that of the
//   file.
// - Key and value names cannot contain a line break, which the file format
//   cannot hold: such a name is refused with ERROR_INVALID_PARAMETER.
// - A registration can hold the registry for itself
//   (BeginRegistryInstallation, not a Windows call), as a Windows installer
//   runs one installation at a time.
#include "platform/advapi32.h"

#include "platform/registryfile.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

using registry::Key;
using registry::SameName;
using registry::Tree;
using registry::Value;

// --- key handles ---------------------------------------------------------------------------------

namespace {

const REGSAM GenericRead = 0x80000000u;
const REGSAM GenericWrite = 0x40000000u;
const REGSAM GenericAll = 0x10000000u;

const size_t MaxKeyNameLength = 255;
const size_t MaxValueNameLength = 16383;

struct OpenKey {
    int root;
    std::vector<std::string> path;
    REGSAM access;
    bool deleted;
};

// What a handle names, copied out of the handle table.
struct KeyRef {
    int root = -1;
    std::vector<std::string> path;
    REGSAM access = 0;
};

std::mutex& handlesLock() {
    static std::mutex lock;
    return lock;
}

std::unordered_set<OpenKey*>& openKeys() {
    static std::unordered_set<OpenKey*> keys;
    return keys;
}

// Generic rights mean the key rights they stand for; MAXIMUM_ALLOWED is
// everything, as no key here has a security descriptor that limits it.
REGSAM effectiveAccess(REGSAM access) {
    if (access & (MAXIMUM_ALLOWED | GenericAll)) {
        access |= KEY_ALL_ACCESS;
    }
    if (access & GenericRead) {
        access |= KEY_READ;
    }
    if (access & GenericWrite) {
        access |= KEY_WRITE;
    }
    return access;
}

int predefinedRoot(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) {
        return registry::ClassesRoot;
    }
    if (key == HKEY_CURRENT_USER) {
        return registry::CurrentUser;
    }
    if (key == HKEY_LOCAL_MACHINE) {
        return registry::LocalMachine;
    }
    if (key == HKEY_USERS) {
        return registry::Users;
    }
    if (key == HKEY_CURRENT_CONFIG) {
        return registry::CurrentConfig;
    }
    return -1;
}

// What a handle names, when it was opened with the `needed` access.
LONG resolve(HKEY key, KeyRef& ref, REGSAM needed = 0) {
    ref.root = predefinedRoot(key);
    if (ref.root >= 0) {
        ref.access = KEY_ALL_ACCESS;
    } else {
        std::lock_guard<std::mutex> guard(handlesLock());
        auto* open = reinterpret_cast<OpenKey*>(key);
        if (key == nullptr || openKeys().count(open) == 0) {
            return ERROR_INVALID_HANDLE;
        }
        if (open->deleted) {
            return ERROR_KEY_DELETED;
        }
        ref.root = open->root;
        ref.path = open->path;
        ref.access = open->access;
    }
    return (ref.access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HKEY newHandle(int root, std::vector<std::string> path, REGSAM access) {
    auto* open = new OpenKey{root, std::move(path), effectiveAccess(access), false};
    std::lock_guard<std::mutex> guard(handlesLock());
    try {
        openKeys().insert(open);
    } catch (...) {
        delete open;
        throw;
    }
    return reinterpret_cast<HKEY>(open);
}

// Handles of this process to the deleted key or to keys below it answer
// ERROR_KEY_DELETED from now on (below it only, when the key itself stays).
void markDeleted(int root, const std::vector<std::string>& path, bool onlyBelow = false) {
    std::lock_guard<std::mutex> guard(handlesLock());
    for (OpenKey* open : openKeys()) {
        if (open->root != root || open->path.size() < path.size() + (onlyBelow ? 1 : 0)) {
            continue;
        }
        bool below = true;
        for (size_t i = 0; i < path.size() && below; ++i) {
            below = SameName(open->path[i], path[i]);
        }
        open->deleted = open->deleted || below;
    }
}

// --- paths ---------------------------------------------------------------------------------------

bool validName(const std::string& name, size_t maxLength) {
    return name.size() <= maxLength && name.find_first_of("\r\n") == std::string::npos;
}

// "a\b\c" as its components; one trailing backslash is allowed, an empty
// component elsewhere is not.
LONG splitPath(LPCSTR text, std::vector<std::string>& parts) {
    std::string path = text == nullptr ? "" : text;
    if (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    if (path.empty()) {
        return ERROR_SUCCESS;
    }
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string part = path.substr(start, end - start);
        if (part.empty()) {
            return ERROR_BAD_PATHNAME;
        }
        if (!validName(part, MaxKeyNameLength)) {
            return ERROR_INVALID_PARAMETER;
        }
        parts.push_back(part);
        if (end == std::string::npos) {
            return ERROR_SUCCESS;
        }
        start = end + 1;
    }
}

// The key a handle names, and the full path of `subKey` below it.
LONG resolveBelow(HKEY key, LPCSTR subKey, KeyRef& ref, std::vector<std::string>& path) {
    std::vector<std::string> parts;
    LONG status = resolve(key, ref);
    if (status == ERROR_SUCCESS) {
        status = splitPath(subKey, parts);
    }
    path = ref.path;
    path.insert(path.end(), parts.begin(), parts.end());
    return status;
}

const Key* findKey(const Tree& tree, int root, const std::vector<std::string>& path) {
    const Key* key = &tree.roots[root];
    for (size_t i = 0; i < path.size() && key != nullptr; ++i) {
        key = key->FindSubkey(path[i]);
    }
    return key;
}

Key* findKey(Tree& tree, int root, const std::vector<std::string>& path) {
    return const_cast<Key*>(findKey(static_cast<const Tree&>(tree), root, path));
}

// --- reading and changing ------------------------------------------------------------------------

// Runs a registry call, turning exhausted memory into its error code.
template <typename Call> LSTATUS guarded(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

// Runs `read` on the key a handle with the `needed` access names, in the
// registry as it is now, with the time the registry file was last changed.
template <typename Read> LSTATUS readKey(HKEY handle, REGSAM needed, Read read) {
    return guarded([&]() -> LSTATUS {
        KeyRef ref;
        std::shared_ptr<const Tree> tree;
        FILETIME modified{};
        LONG status = resolve(handle, ref, needed);
        if (status == ERROR_SUCCESS) {
            status = registry::Snapshot(tree, &modified);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        const Key* key = findKey(*tree, ref.root, ref.path);
        return key != nullptr ? read(*key, modified) : ERROR_KEY_DELETED;
    });
}

// Changes the registry through `change`, which gets the key `ref` names;
// that key must still be there.
template <typename Change> LONG updateKey(const KeyRef& ref, Change change) {
    return registry::Update([&](Tree& tree, bool& changed) -> LONG {
        Key* key = findKey(tree, ref.root, ref.path);
        return key != nullptr ? change(tree, *key, changed) : ERROR_KEY_DELETED;
    });
}

// Copies a name into a caller's buffer of `*length` characters; on success
// `*length` is the name's length without its NUL.
LONG copyName(const std::string& name, LPSTR buffer, LPDWORD length) {
    if (*length <= name.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *length = DWORD(name.size());
    return ERROR_SUCCESS;
}

// Copies value data the way RegQueryValueExA does: no buffer only reports
// the size, a small one reports the size and ERROR_MORE_DATA.
LONG copyData(const Value& value, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (type != nullptr) {
        *type = value.type;
    }
    if (size == nullptr) {
        return ERROR_SUCCESS;
    }
    DWORD needed = DWORD(value.data.size());
    DWORD room = *size;
    *size = needed;
    if (data == nullptr) {
        return ERROR_SUCCESS;
    }
    if (room < needed) {
        return ERROR_MORE_DATA;
    }
    if (needed > 0) {
        std::memcpy(data, value.data.data(), needed);
    }
    return ERROR_SUCCESS;
}

} // namespace

// --- opening and closing keys --------------------------------------------------------------------

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    if (options != REG_OPTION_NON_VOLATILE) {
        return ERROR_NOT_SUPPORTED;
    }
    return guarded([&]() -> LSTATUS {
        KeyRef ref;
        std::vector<std::string> path;
        LONG status = resolveBelow(key, subKey, ref, path);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        bool created = false;
        status = updateKey(ref, [&](Tree& tree, Key&, bool& changed) -> LONG {
            // The names as stored, which may differ from `subKey` in case.
            Key* current = &tree.roots[ref.root];
            for (std::string& part : path) {
                Key* next = current->FindSubkey(part);
                if (next == nullptr) {
                    next = &current->AddSubkey(part);
                    created = true;
                }
                part = next->name;
                current = next;
            }
            changed = created;
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) {
            return status;
        }
        *result = newHandle(ref.root, std::move(path), access);
        if (disposition != nullptr) {
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    return guarded([&]() -> LSTATUS {
        KeyRef ref;
        std::vector<std::string> path;
        std::shared_ptr<const Tree> tree;
        LONG status = resolveBelow(key, subKey, ref, path);
        if (status == ERROR_SUCCESS) {
            status = registry::Snapshot(tree, nullptr);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (findKey(*tree, ref.root, ref.path) == nullptr) {
            return ERROR_KEY_DELETED;
        }
        const Key* current = &tree->roots[ref.root];
        for (std::string& part : path) {
            current = current->FindSubkey(part);
            if (current == nullptr) {
                return ERROR_FILE_NOT_FOUND;
            }
            part = current->name;
        }
        *result = newHandle(ref.root, std::move(path), access);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY key) {
    if (predefinedRoot(key) >= 0) {
        return ERROR_SUCCESS;
    }
    auto* open = reinterpret_cast<OpenKey*>(key);
    std::lock_guard<std::mutex> guard(handlesLock());
    if (key == nullptr || openKeys().erase(open) == 0) {
        return ERROR_INVALID_HANDLE;
    }
    delete open;
    return ERROR_SUCCESS;
}

// --- values --------------------------------------------------------------------------------------

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD size) {
    if (data == nullptr && size != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    return guarded([&]() -> LSTATUS {
        KeyRef ref;
        std::string name = valueName == nullptr ? "" : valueName;
        LONG status = resolve(key, ref, KEY_SET_VALUE);
        if (status == ERROR_SUCCESS && !validName(name, MaxValueNameLength)) {
            status = ERROR_INVALID_PARAMETER;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        std::vector<BYTE> bytes(data, data + size);
        return updateKey(ref, [&](Tree&, Key& target, bool& changed) -> LONG {
            Value* value = target.FindValue(name);
            if (value == nullptr) {
                target.values.push_back(Value{name, type, bytes});
                changed = true;
            } else if (value->type != type || value->data != bytes) {
                value->type = type;
                value->data = bytes;
                changed = true;
            }
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
    if (data != nullptr && size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return readKey(key, KEY_QUERY_VALUE, [&](const Key& target, const FILETIME&) -> LSTATUS {
        const Value* value = target.FindValue(valueName == nullptr ? "" : valueName);
        return value == nullptr ? ERROR_FILE_NOT_FOUND : copyData(*value, type, data, size);
    });
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
    return guarded([&]() -> LSTATUS {
        KeyRef ref;
        LONG status = resolve(key, ref, KEY_SET_VALUE);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        std::string name = valueName == nullptr ? "" : valueName;
        return updateKey(ref, [&](Tree&, Key& target, bool& changed) -> LONG {
            changed = target.RemoveValue(name);
            return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

// --- deleting keys -------------------------------------------------------------------------------

namespace {

// Deletes the key at `path` (RegDeleteKeyA) or the tree below and at it
// (RegDeleteTreeA), under the key a handle names.
LSTATUS deleteKey(const KeyRef& ref, std::vector<std::string> path, bool wholeTree) {
    if (path.empty()) {
        return ERROR_ACCESS_DENIED; // a root cannot go
    }
    std::string name = path.back();
    path.pop_back();
    LONG status = updateKey(ref, [&](Tree& tree, Key&, bool& changed) -> LONG {
        Key* parent = findKey(tree, ref.root, path);
        Key* target = parent == nullptr ? nullptr : parent->FindSubkey(name);
        if (target == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (!wholeTree && !target->subkeys.empty()) {
            return ERROR_ACCESS_DENIED;
        }
        changed = parent->RemoveSubkey(name);
        return ERROR_SUCCESS;
    });
    if (status == ERROR_SUCCESS) {
        path.push_back(name);
        markDeleted(ref.root, path);
    }
    return status;
}

} // namespace

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return guarded([&]() -> LSTATUS {
        KeyRef ref;
        std::vector<std::string> path;
        LONG status = resolveBelow(key, subKey, ref, path);
        // An empty name deletes the handle's own key.
        return status == ERROR_SUCCESS ? deleteKey(ref, std::move(path), false) : status;
    });
}

LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey) {
    return guarded([&]() -> LSTATUS {
        KeyRef ref;
        std::vector<std::string> path;
        LONG status = resolveBelow(key, subKey, ref, path);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (path.size() > ref.path.size()) {
            return deleteKey(ref, std::move(path), true);
        }
        // Without a subkey the key itself stays, emptied.
        status = updateKey(ref, [&](Tree&, Key& target, bool& changed) -> LONG {
            target.subkeys.clear();
            target.values.clear();
            changed = true;
            return ERROR_SUCCESS;
        });
        if (status == ERROR_SUCCESS) {
            markDeleted(ref.root, ref.path, true);
        }
        return status;
    });
}

// --- enumerating ---------------------------------------------------------------------------------

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD,
                      LPSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    if (name == nullptr || nameLength == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return readKey(
        key, KEY_ENUMERATE_SUB_KEYS, [&](const Key& target, const FILETIME& modified) -> LSTATUS {
            if (index >= target.subkeys.size()) {
                return ERROR_NO_MORE_ITEMS;
            }
            LONG status = copyName(target.subkeys[index]->name, name, nameLength);
            if (status == ERROR_SUCCESS && keyClass != nullptr && classLength != nullptr) {
                status = copyName("", keyClass, classLength);
            }
            if (lastWriteTime != nullptr) {
                *lastWriteTime = modified;
            }
            return status;
        });
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength, LPDWORD,
                      LPDWORD type, LPBYTE data, LPDWORD size) {
    if (valueName == nullptr || valueNameLength == nullptr ||
        (data != nullptr && size == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return readKey(key, KEY_QUERY_VALUE, [&](const Key& target, const FILETIME&) -> LSTATUS {
        if (index >= target.values.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        const Value& value = target.values[index];
        LONG status = copyName(value.name, valueName, valueNameLength);
        return status == ERROR_SUCCESS ? copyData(value, type, data, size) : status;
    });
}

LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classLength, LPDWORD, LPDWORD subKeys,
                         LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                         LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
    return readKey(
        key, KEY_QUERY_VALUE, [&](const Key& target, const FILETIME& modified) -> LSTATUS {
            if (keyClass != nullptr && classLength != nullptr) {
                LONG status = copyName("", keyClass, classLength);
                if (status != ERROR_SUCCESS) {
                    return status;
                }
            } else if (classLength != nullptr) {
                *classLength = 0;
            }
            DWORD longestSubkey = 0;
            for (const auto& subkey : target.subkeys) {
                longestSubkey = std::max(longestSubkey, DWORD(subkey->name.size()));
            }
            DWORD longestName = 0;
            DWORD longestData = 0;
            for (const Value& value : target.values) {
                longestName = std::max(longestName, DWORD(value.name.size()));
                longestData = std::max(longestData, DWORD(value.data.size()));
            }
            const DWORD answers[] = {DWORD(target.subkeys.size()),
                                     longestSubkey,
                                     0,
                                     DWORD(target.values.size()),
                                     longestName,
                                     longestData,
                                     0};
            LPDWORD outs[] = {
                subKeys,        maxSubKeyLength,       maxClassLength, values, maxValueNameLength,
                maxValueLength, securityDescriptorSize};
            for (size_t i = 0; i < sizeof outs / sizeof outs[0]; ++i) {
                if (outs[i] != nullptr) {
                    *outs[i] = answers[i];
                }
            }
            if (lastWriteTime != nullptr) {
                *lastWriteTime = modified;
            }
            return ERROR_SUCCESS;
        });
}

// --- installations -------------------------------------------------------------------------------

HANDLE BeginRegistryInstallation() {
    try {
        int lock = registry::LockInstallation();
        return lock >= 0 ? new int(lock) : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void EndRegistryInstallation(HANDLE installation) {
    int* lock = static_cast<int*>(installation);
    if (lock != nullptr) {
        close(*lock);
        delete lock;
    }
}
