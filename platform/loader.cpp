// The loader: loading and freeing libraries, finding their functions, and
// knowing which modules are loaded, over the dynamic loader.
//
// Divisions, in order:
//   - what the loader has loaded: the modules of the process, main program
//     included, as the dynamic loader lists them
//   - modules loaded through this layer: the libraries and data files that
//     LoadLibraryExA gave out, with their references
//   - built-in system libraries: the Windows DLLs the system looks up at run
//     time, which this layer stands in for
//   - loading and freeing: LoadLibraryA, LoadLibraryExA and FreeLibrary
//   - functions: GetProcAddress
//   - modules by address: ModuleFromAddress
//
// A module handle is the address where the module's first page is loaded,
// as on Windows; the main program is a module like the others.
//
// Where this differs from Windows, and why:
// - Libraries are ELF shared objects, loaded with dlopen (RTLD_NOW |
//   RTLD_LOCAL) by the path given; a bare name is looked for where dlopen
//   looks, not in Windows' search order.
// - A library loaded as a data file that is not loaded already is only
//   mapped, never run: its handle is the mapping's address with bit 0 set (as
//   Windows marks such handles), and only its resources can be had from it.
//   A module that is loaded already is handed out again, also as a data
//   file, with one more reference. LoadLibraryExA takes no other flag
//   (ERROR_NOT_SUPPORTED).
// - System DLLs of Windows that the system looks up at run time
//   ("oleaut32.dll") are built into this layer, with the stand-ins as their
//   exports. They have no file, are never freed, and export only what the
//   system looks up.
// - GetProcAddress finds functions by name only, not by ordinal, and only
//   the module's own: a symbol the module takes from another library is not
//   one of its exports.
// - ModuleFromAddress is not a Windows call: it gives the handle a DLL gets
//   in DllMain on Windows (see dllentry.cpp).
#include "platform/loader.h"

#include "platform/elf.h"
#include "platform/lasterror.h"
#include "platform/oleaut32.h"
#include "platform/posixfile.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

// --- what the loader has loaded ------------------------------------------------------------------

namespace {

std::string absolutePath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

struct Collection {
    std::vector<LoadedObject> objects;
    bool failed = false;
};

int collectObject(struct dl_phdr_info* info, size_t, void* data) {
    auto* collection = static_cast<Collection*>(data);
    // The module starts at the page of its first loadable segment, which is
    // where the loader says an object begins (dladdr's dli_fbase).
    const ElfW(Phdr)* first = nullptr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum && first == nullptr; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            first = &info->dlpi_phdr[i];
        }
    }
    if (first == nullptr) {
        return 0;
    }
    ElfW(Addr) page = ElfW(Addr)(sysconf(_SC_PAGESIZE));
    LoadedObject object;
    object.base = reinterpret_cast<HMODULE>(info->dlpi_addr + (first->p_vaddr & ~(page - 1)));
    object.bias = info->dlpi_addr;
    object.isMainProgram = collection->objects.empty();
    try {
        object.path = info->dlpi_name != nullptr ? info->dlpi_name : "";
        collection->objects.push_back(std::move(object));
    } catch (const std::bad_alloc&) {
        collection->failed = true;
        return 1;
    }
    return 0;
}

// The loaded objects with their paths as the loader holds them: relative to
// the working folder or through links, and empty for the main program.
std::vector<LoadedObject> loadedObjectsAsNamed() {
    Collection collection;
    dl_iterate_phdr(collectObject, &collection);
    if (collection.failed) {
        throw std::bad_alloc();
    }
    return collection.objects;
}

// The path of a loaded object as it is named for the system's callers.
std::string pathToShow(const LoadedObject& object) {
    return object.isMainProgram ? MainProgramPath() : absolutePath(object.path);
}

std::vector<LoadedObject> loadedObjects() {
    std::vector<LoadedObject> objects = loadedObjectsAsNamed();
    for (LoadedObject& object : objects) {
        object.path = pathToShow(object);
    }
    return objects;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The loaded module whose file is the file at `path`, if there is one.
// stat follows the links itself: only the module found has its path
// resolved, which loading a library would otherwise pay for every module.
bool findLoadedByFile(const char* path, LoadedObject& found) {
    struct stat wanted {};
    if (stat(path, &wanted) != 0) {
        return false;
    }
    for (LoadedObject& object : loadedObjectsAsNamed()) {
        const char* named = object.isMainProgram ? "/proc/self/exe" : object.path.c_str();
        struct stat info {};
        if (*named != '\0' && stat(named, &info) == 0 && sameFile(info, wanted)) {
            object.path = pathToShow(object);
            found = std::move(object);
            return true;
        }
    }
    return false;
}

// A loader handle on a module that is already loaded, taking a reference.
void* openLoaded(const LoadedObject& object) {
    return object.isMainProgram ? dlopen(nullptr, RTLD_NOW)
                                : dlopen(object.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
}

} // namespace

std::string MainProgramPath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string();
}

HMODULE MainProgramModule() {
    std::vector<LoadedObject> objects = loadedObjects();
    return objects.empty() ? nullptr : objects.front().base;
}

bool FindLoadedByBase(HMODULE base, LoadedObject& found) {
    for (LoadedObject& object : loadedObjects()) {
        if (object.base == base) {
            found = std::move(object);
            return true;
        }
    }
    return false;
}

// --- modules loaded through this layer -----------------------------------------------------------

namespace {

std::mutex& recordsLock() {
    static std::mutex lock;
    return lock;
}

std::map<HMODULE, ModuleRecord>& records() {
    static std::map<HMODULE, ModuleRecord> modules;
    return modules;
}

HMODULE recordLibrary(HMODULE base, void* loaderHandle) {
    std::lock_guard<std::mutex> guard(recordsLock());
    ModuleRecord& record = records()[base];
    record.loaderHandle = loaderHandle;
    ++record.references;
    return base;
}

} // namespace

bool FindRecord(HMODULE module, ModuleRecord& found) {
    std::lock_guard<std::mutex> guard(recordsLock());
    auto at = records().find(module);
    if (at == records().end()) {
        return false;
    }
    found = at->second;
    return true;
}

// --- built-in system libraries -------------------------------------------------------------------

namespace {

// Only the functions the system looks up at run time; the others it calls
// are linked directly.
const BuiltinExport Oleaut32Exports[] = {
    {"UnRegisterTypeLib", reinterpret_cast<FARPROC>(&UnRegisterTypeLib)},
};

const BuiltinLibrary BuiltinLibraries[] = {
    {"oleaut32.dll", Oleaut32Exports, sizeof Oleaut32Exports / sizeof Oleaut32Exports[0]},
};

HMODULE builtinHandle(const BuiltinLibrary& library) {
    return reinterpret_cast<HMODULE>(const_cast<BuiltinLibrary*>(&library));
}

// "oleaut32.dll" or "oleaut32", in any case.
const BuiltinLibrary* findBuiltinByName(LPCSTR name) {
    for (const BuiltinLibrary& library : BuiltinLibraries) {
        std::string bare(library.fileName, std::strlen(library.fileName) - 4);
        if (lstrcmpiA(name, library.fileName) == 0 || lstrcmpiA(name, bare.c_str()) == 0) {
            return &library;
        }
    }
    return nullptr;
}

} // namespace

const BuiltinLibrary* FindBuiltin(HMODULE module) {
    for (const BuiltinLibrary& library : BuiltinLibraries) {
        if (builtinHandle(library) == module) {
            return &library;
        }
    }
    return nullptr;
}

// --- loading and freeing -------------------------------------------------------------------------

namespace {

HMODULE mapDataFile(LPCSTR path) {
    MappedFile file;
    DWORD error = file.Map(path);
    if (error != ERROR_SUCCESS || !IsNativeElf(file.Data(), file.Size())) {
        return Fail(error != ERROR_SUCCESS ? error : DWORD(ERROR_BAD_EXE_FORMAT), HMODULE(nullptr));
    }
    auto module = reinterpret_cast<HMODULE>(reinterpret_cast<ULONG_PTR>(file.Data()) | 1);
    std::lock_guard<std::mutex> guard(recordsLock());
    ModuleRecord& record = records()[module];
    record.isDataFile = true;
    record.imageSize = file.Size();
    record.image = file.Release();
    record.references = 1;
    return module;
}

HMODULE loadLibrary(LPCSTR path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        struct stat info {};
        return Fail(stat(path, &info) == 0 ? DWORD(ERROR_BAD_EXE_FORMAT)
                                           : DWORD(ERROR_MOD_NOT_FOUND),
                    HMODULE(nullptr));
    }
    struct link_map* map = nullptr;
    Dl_info info{};
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        dladdr(map->l_ld, &info) == 0) {
        dlclose(handle);
        return Fail(DWORD(ERROR_BAD_EXE_FORMAT), HMODULE(nullptr));
    }
    return recordLibrary(static_cast<HMODULE>(info.dli_fbase), handle);
}

} // namespace

HMODULE LoadLibraryA(LPCSTR path) {
    return LoadLibraryExA(path, nullptr, 0);
}

HMODULE LoadLibraryExA(LPCSTR path, HANDLE, DWORD flags) {
    if (path == nullptr || *path == '\0') {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), HMODULE(nullptr));
    }
    if ((flags & ~LOAD_LIBRARY_AS_DATAFILE) != 0) {
        return Fail(DWORD(ERROR_NOT_SUPPORTED), HMODULE(nullptr));
    }
    if (const BuiltinLibrary* builtin = findBuiltinByName(path)) {
        return builtinHandle(*builtin);
    }
    return Guarded(HMODULE(nullptr), [&]() -> HMODULE {
        // A module that is loaded already is handed out again, also as a
        // data file, with one more reference.
        LoadedObject loaded;
        if (findLoadedByFile(path, loaded)) {
            void* handle = openLoaded(loaded);
            return handle != nullptr ? recordLibrary(loaded.base, handle)
                                     : Fail(DWORD(ERROR_MOD_NOT_FOUND), HMODULE(nullptr));
        }
        return (flags & LOAD_LIBRARY_AS_DATAFILE) ? mapDataFile(path) : loadLibrary(path);
    });
}

BOOL FreeLibrary(HMODULE module) {
    if (FindBuiltin(module) != nullptr) {
        return TRUE;
    }
    std::lock_guard<std::mutex> guard(recordsLock());
    auto at = records().find(module);
    if (at == records().end()) {
        return Fail(DWORD(ERROR_INVALID_HANDLE), FALSE);
    }
    ModuleRecord& record = at->second;
    if (!record.isDataFile) {
        dlclose(record.loaderHandle);
    }
    if (--record.references == 0) {
        if (record.isDataFile) {
            munmap(record.image, record.imageSize);
        }
        records().erase(at);
    }
    return TRUE;
}

// --- functions -----------------------------------------------------------------------------------

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (name == nullptr || IS_INTRESOURCE(name)) {
        return Fail(DWORD(ERROR_PROC_NOT_FOUND), FARPROC(nullptr));
    }
    if (const BuiltinLibrary* builtin = FindBuiltin(module)) {
        for (size_t i = 0; i < builtin->exportCount; ++i) {
            if (std::strcmp(builtin->exports[i].name, name) == 0) {
                return builtin->exports[i].address;
            }
        }
        return Fail(DWORD(ERROR_PROC_NOT_FOUND), FARPROC(nullptr));
    }
    return Guarded(FARPROC(nullptr), [&]() -> FARPROC {
        ModuleRecord record;
        LoadedObject object;
        bool recorded = FindRecord(module, record);
        if ((recorded && record.isDataFile) || (!recorded && !FindLoadedByBase(module, object))) {
            return Fail(DWORD(ERROR_INVALID_HANDLE), FARPROC(nullptr));
        }
        void* handle = recorded ? record.loaderHandle : openLoaded(object);
        void* symbol = handle != nullptr ? dlsym(handle, name) : nullptr;
        if (!recorded && handle != nullptr) {
            dlclose(handle);
        }
        // Only the module's own exports, not those of the libraries it uses.
        Dl_info info{};
        if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fbase != module) {
            return Fail(DWORD(ERROR_PROC_NOT_FOUND), FARPROC(nullptr));
        }
        return symbol;
    });
}

// --- modules by address --------------------------------------------------------------------------

HMODULE ModuleFromAddress(const void* address) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0) {
        return nullptr;
    }
    return static_cast<HMODULE>(info.dli_fbase);
}
