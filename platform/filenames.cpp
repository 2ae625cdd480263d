// Module file names: the file a module was loaded from, and the short form
// of a path.
//
// Divisions, in order:
//   - module file names: GetModuleFileNameA
//   - short paths: GetShortPathNameA
//
// Where this differs from Windows, and why:
// - A module's file name is its absolute path with symbolic links resolved;
//   the main program's is the file /proc/self/exe names. A library built
//   into this layer ("oleaut32.dll") has no file and answers its bare name.
// - POSIX file systems have no 8.3 short names, so GetShortPathNameA gives
//   the path unchanged, once it has checked that the path exists (as Windows
//   does).
#include "platform/lasterror.h"
#include "platform/loader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

// --- module file names ---------------------------------------------------------------------------

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    std::string path;
    bool found = Guarded(false, [&]() {
        if (module == nullptr) {
            path = MainProgramPath();
        } else if (const BuiltinLibrary* builtin = FindBuiltin(module)) {
            path = builtin->fileName;
        } else {
            LoadedObject object;
            if (FindLoadedByBase(module, object)) {
                path = object.path;
            }
        }
        return !path.empty();
    });
    if (!found) {
        return Fail(DWORD(ERROR_MOD_NOT_FOUND), DWORD(0));
    }
    if (buffer == nullptr || size == 0) {
        return Fail(DWORD(ERROR_INSUFFICIENT_BUFFER), DWORD(0));
    }
    // A name that does not fit is cut, terminated, and reported as filling
    // the buffer, as Windows does.
    if (path.size() >= size) {
        std::memcpy(buffer, path.c_str(), size - 1);
        buffer[size - 1] = '\0';
        return Fail(DWORD(ERROR_INSUFFICIENT_BUFFER), size);
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return DWORD(path.size());
}

// --- short paths ---------------------------------------------------------------------------------

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    struct stat info {};
    if (longPath == nullptr) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), DWORD(0));
    }
    if (stat(longPath, &info) != 0) {
        return Fail(DWORD(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND), DWORD(0));
    }
    size_t length = std::strlen(longPath);
    if (shortPath == nullptr || length >= size) {
        return DWORD(length + 1);
    }
    std::memmove(shortPath, longPath, length + 1);
    return DWORD(length);
}
