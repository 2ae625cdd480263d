#include "server/RegistryKey.h"

RegistryKey::RegistryKey(BOOL create, HKEY root, LPCSTR path) {
    LONG status;
    if (create) {
        DWORD disposition = 0;
        status = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &handle, &disposition);
        if (status == ERROR_SUCCESS) {
            mode = Writable;
        }
    } else {
        status = RegOpenKeyExA(root, path, 0, KEY_READ, &handle);
    }
    if (status != ERROR_SUCCESS) {
        handle = nullptr;
        return;
    }
    QueryInfo();
}

bool RegistryKey::SetString(LPCSTR name, LPCSTR text) {
    if (handle == nullptr || (mode & Writable) == 0 || text == nullptr) {
        return false;
    }
    DWORD size = DWORD(lstrlenA(text)) + 1;
    return RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
}

bool RegistryKey::QueryInfo() {
    if (handle == nullptr) {
        return false;
    }
    classNameLength = MAX_PATH;
    return RegQueryInfoKeyA(handle, className, &classNameLength, nullptr, &subkeyCount,
                            &maxSubkeyNameLength, &maxClassLength, &valueCount, &maxValueNameLength,
                            &maxValueDataLength, &securityDescriptorSize,
                            &lastWriteTime) == ERROR_SUCCESS;
}

RegistryKey::~RegistryKey() {
    Close();
}

// The handle is cleared once closed, so that a second Close (or the
// destructor) cannot close a handle the registry has since given to
// someone else.
void RegistryKey::Close() {
    if (handle != nullptr) {
        RegCloseKey(handle);
        handle = nullptr;
    }
}
