// One registry key, opened or created, that string values can be written
// into: what self-registration uses for the key its registry script does not
// cover.
#pragma once

#include "platform/winapi.h"

class RegistryKey {
public:
    // Creates the key (with the keys above it) for writing when `create` is
    // non-zero, else opens it read-only; `IsOpen` tells whether that worked.
    RegistryKey(BOOL create, HKEY root, LPCSTR path);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool IsOpen() const { return handle != nullptr; }
    // Writes a REG_SZ value, its terminating NUL included; refused on a key
    // that is not open for writing.
    bool SetString(LPCSTR name, LPCSTR text);
    // Reads the key's metadata into the fields below.
    bool QueryInfo();
    // Closes the handle (the destructor does it too when it is still open).
    void Close();

    WORD GetMode() const { return mode; }
    DWORD GetSubkeyCount() const { return subkeyCount; }
    DWORD GetValueCount() const { return valueCount; }

    static constexpr WORD Writable = 0x0002;

private:
    HKEY handle = nullptr;
    WORD mode = 0;
    CHAR className[MAX_PATH] = {};
    DWORD classNameLength = MAX_PATH;
    DWORD subkeyCount = 0;
    DWORD maxSubkeyNameLength = 0;
    DWORD maxClassLength = 0;
    DWORD valueCount = 0;
    DWORD maxValueNameLength = 0;
    DWORD maxValueDataLength = 0;
    DWORD securityDescriptorSize = 0;
    FILETIME lastWriteTime = {};
};
