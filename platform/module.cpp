// kernel32 stand-ins for modules and resources, over the dynamic loader.
//
// A module handle is the address where the module's first page is loaded,
// as on Windows; the main program is a module like the others. A library
// loaded as a data file that is not loaded already is only mapped, never
// run: its handle is the mapping's address with bit 0 set (as Windows marks
// such handles), and only its resources can be had from it. System DLLs of
// Windows that the system looks up dynamically ("oleaut32.dll") are built
// into this layer, with the stand-ins as their exports.
//
// Resources are a table in a section of the module's file (see
// platform/resourcetable.h): found through the file's section headers, and
// read from memory when the module is loaded, from the mapped file when it
// is a data file.
#include "platform/module.h"

#include "platform/kernel32.h"
#include "platform/oleaut32.h"
#include "platform/resourcetable.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// --- what the loader has loaded ---------------------------------------------------------

struct LoadedObject {
    HMODULE base = nullptr;
    ElfW(Addr) bias = 0; // added to the file's addresses
    std::string path;    // absolute
    bool isMainProgram = false;
};

std::string mainProgramPath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string();
}

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

std::vector<LoadedObject> loadedObjects() {
    Collection collection;
    dl_iterate_phdr(collectObject, &collection);
    if (collection.failed) {
        throw std::bad_alloc();
    }
    for (LoadedObject& object : collection.objects) {
        object.path = object.isMainProgram ? mainProgramPath() : absolutePath(object.path);
    }
    return collection.objects;
}

bool findLoadedByBase(HMODULE base, LoadedObject& found) {
    for (LoadedObject& object : loadedObjects()) {
        if (object.base == base) {
            found = std::move(object);
            return true;
        }
    }
    return false;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The loaded module whose file is the file at `path`, if there is one.
bool findLoadedByFile(const char* path, LoadedObject& found) {
    struct stat wanted {};
    if (stat(path, &wanted) != 0) {
        return false;
    }
    for (LoadedObject& object : loadedObjects()) {
        struct stat info {};
        if (!object.path.empty() && stat(object.path.c_str(), &info) == 0 &&
            sameFile(info, wanted)) {
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

// --- modules loaded through this layer --------------------------------------------------------

struct ModuleRecord {
    bool isDataFile = false;
    void* loaderHandle = nullptr;   // a library
    unsigned char* image = nullptr; // a data file: the whole file, mapped
    size_t imageSize = 0;
    int references = 0;
};

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

bool findRecord(HMODULE module, ModuleRecord& found) {
    std::lock_guard<std::mutex> guard(recordsLock());
    auto at = records().find(module);
    if (at == records().end()) {
        return false;
    }
    found = at->second;
    return true;
}

// --- built-in system libraries ------------------------------------------------------------------

struct BuiltinExport {
    const char* name;
    FARPROC address;
};

struct BuiltinLibrary {
    const char* fileName;
    const BuiltinExport* exports;
    size_t exportCount;
};

// Only the functions the system looks up at run time; the others it calls
// are linked directly.
const BuiltinExport oleaut32Exports[] = {
    {"UnRegisterTypeLib", reinterpret_cast<FARPROC>(&UnRegisterTypeLib)},
};

const BuiltinLibrary builtinLibraries[] = {
    {"oleaut32.dll", oleaut32Exports, sizeof oleaut32Exports / sizeof oleaut32Exports[0]},
};

HMODULE builtinHandle(const BuiltinLibrary& library) {
    return reinterpret_cast<HMODULE>(const_cast<BuiltinLibrary*>(&library));
}

// "oleaut32.dll" or "oleaut32", in any case.
const BuiltinLibrary* findBuiltinByName(LPCSTR name) {
    for (const BuiltinLibrary& library : builtinLibraries) {
        std::string bare(library.fileName, std::strlen(library.fileName) - 4);
        if (lstrcmpiA(name, library.fileName) == 0 || lstrcmpiA(name, bare.c_str()) == 0) {
            return &library;
        }
    }
    return nullptr;
}

const BuiltinLibrary* findBuiltin(HMODULE module) {
    for (const BuiltinLibrary& library : builtinLibraries) {
        if (builtinHandle(library) == module) {
            return &library;
        }
    }
    return nullptr;
}

// --- files
// ----------------------------------------------------------------------------------------------

// A whole file mapped read-only; unmapped when it goes out of scope unless
// released.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() {
        if (data_ != nullptr) {
            munmap(data_, size_);
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // ERROR_SUCCESS, ERROR_FILE_NOT_FOUND or ERROR_BAD_EXE_FORMAT.
    DWORD map(const char* path) {
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return ERROR_FILE_NOT_FOUND;
        }
        struct stat info {};
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
            void* data = mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (data != MAP_FAILED) {
                data_ = static_cast<unsigned char*>(data);
                size_ = size_t(info.st_size);
            }
        }
        close(fd);
        return data_ != nullptr ? ERROR_SUCCESS : ERROR_BAD_EXE_FORMAT;
    }
    unsigned char* release() {
        unsigned char* data = data_;
        data_ = nullptr;
        return data;
    }
    unsigned char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
};

bool isNativeElf(const unsigned char* image, size_t size) {
    if (size < sizeof(ElfW(Ehdr)) || std::memcmp(image, ELFMAG, SELFMAG) != 0) {
        return false;
    }
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const unsigned char nativeData = ELFDATA2LSB;
#else
    const unsigned char nativeData = ELFDATA2MSB;
#endif
    const unsigned char nativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    return image[EI_CLASS] == nativeClass && image[EI_DATA] == nativeData;
}

struct Section {
    ElfW(Addr) address = 0;
    size_t offset = 0;
    size_t size = 0;
    bool allocated = false;
};

// Finds the resource section through the section headers of an ELF file
// image, checking every offset against the image's size.
bool findResourceSection(const unsigned char* image, size_t size, Section& found) {
    if (!isNativeElf(image, size)) {
        return false;
    }
    ElfW(Ehdr) header;
    std::memcpy(&header, image, sizeof header);
    if (header.e_shoff == 0 || header.e_shentsize != sizeof(ElfW(Shdr)) || header.e_shoff > size ||
        size - header.e_shoff < sizeof(ElfW(Shdr))) {
        return false;
    }
    auto sectionAt = [&](size_t index) {
        ElfW(Shdr) section;
        std::memcpy(&section, image + header.e_shoff + index * sizeof section, sizeof section);
        return section;
    };
    // Past 0xFF00 sections the count and the name table's index move into
    // section 0.
    size_t count = header.e_shnum != 0 ? header.e_shnum : size_t(sectionAt(0).sh_size);
    size_t namesIndex = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : sectionAt(0).sh_link;
    if (count > (size - header.e_shoff) / sizeof(ElfW(Shdr)) || namesIndex >= count) {
        return false;
    }
    ElfW(Shdr) names = sectionAt(namesIndex);
    if (names.sh_offset > size || names.sh_size > size - names.sh_offset) {
        return false;
    }
    const char* wanted = HOLLIN_RESOURCE_SECTION;
    size_t wantedLength = std::strlen(wanted) + 1;
    for (size_t i = 0; i < count; ++i) {
        ElfW(Shdr) section = sectionAt(i);
        if (section.sh_name >= names.sh_size || names.sh_size - section.sh_name < wantedLength ||
            std::memcmp(image + names.sh_offset + section.sh_name, wanted, wantedLength) != 0) {
            continue;
        }
        if (section.sh_type == SHT_NOBITS || section.sh_offset > size ||
            section.sh_size > size - section.sh_offset) {
            return false;
        }
        found.address = section.sh_addr;
        found.offset = size_t(section.sh_offset);
        found.size = size_t(section.sh_size);
        found.allocated = (section.sh_flags & SHF_ALLOC) != 0;
        return true;
    }
    return false;
}

// --- resource tables
// --------------------------------------------------------------------------------

struct TableView {
    const unsigned char* base = nullptr;
    size_t size = 0;

    uint32_t count() const {
        ResourceTableHeader header;
        std::memcpy(&header, base, sizeof header);
        return header.count;
    }
    const ResourceEntry* entries() const {
        return reinterpret_cast<const ResourceEntry*>(base + sizeof(ResourceTableHeader));
    }
};

// Checks a table found in `available` bytes before anything reads it.
bool openTable(const unsigned char* at, size_t available, TableView& view) {
    ResourceTableHeader header;
    if (available < sizeof header ||
        reinterpret_cast<ULONG_PTR>(at) % alignof(ResourceEntry) != 0) {
        return false;
    }
    std::memcpy(&header, at, sizeof header);
    if (std::memcmp(header.magic, "HOLLRSRC", 8) != 0 || header.size > available ||
        header.size < sizeof header ||
        header.count > (header.size - sizeof header) / sizeof(ResourceEntry)) {
        return false;
    }
    view.base = at;
    view.size = header.size;
    return true;
}

HMODULE mainProgramModule() {
    std::vector<LoadedObject> objects = loadedObjects();
    return objects.empty() ? nullptr : objects.front().base;
}

DWORD locateTable(HMODULE module, TableView& view) {
    if (module == nullptr) {
        module = mainProgramModule();
    }
    const auto* own = reinterpret_cast<const unsigned char*>(ownResourceTable);
    if (module == ModuleFromAddress(own)) {
        return openTable(own, ownResourceTable->size, view) ? ERROR_SUCCESS
                                                            : ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    if (findBuiltin(module) != nullptr) {
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    Section section;
    ModuleRecord record;
    if (findRecord(module, record) && record.isDataFile) {
        return findResourceSection(record.image, record.imageSize, section) &&
                       openTable(record.image + section.offset, section.size, view)
                   ? ERROR_SUCCESS
                   : ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    LoadedObject object;
    if (!findLoadedByBase(module, object)) {
        return ERROR_INVALID_HANDLE;
    }
    MappedFile file;
    if (file.map(object.path.c_str()) != ERROR_SUCCESS ||
        !findResourceSection(file.data(), file.size(), section) || !section.allocated) {
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const auto* loaded = reinterpret_cast<const unsigned char*>(object.bias + section.address);
    return openTable(loaded, section.size, view) ? ERROR_SUCCESS : ERROR_RESOURCE_DATA_NOT_FOUND;
}

// Whether an entry's type or name field stands for `wanted`, an integer
// identifier (MAKEINTRESOURCE or "#123") or a text.
bool sameIdentifier(const TableView& view, uint32_t field, LPCSTR wanted) {
    ULONG_PTR number = 0;
    bool wantsNumber = IS_INTRESOURCE(wanted);
    if (wantsNumber) {
        number = reinterpret_cast<ULONG_PTR>(wanted);
    } else if (wanted[0] == '#') {
        char* end = nullptr;
        number = std::strtoul(wanted + 1, &end, 10);
        wantsNumber = *end == '\0' && number <= 0xFFFF;
    }
    if (field & resourceIntegerFlag) {
        return wantsNumber && (field & 0xFFFF) == number;
    }
    if (wantsNumber || field >= view.size) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(view.base + field);
    return std::memchr(text, 0, view.size - field) != nullptr && lstrcmpiA(text, wanted) == 0;
}

// The entry a resource handle points at, if it is one of the table's.
const ResourceEntry* entryOf(const TableView& view, HRSRC resource) {
    const ResourceEntry* entries = view.entries();
    for (uint32_t i = 0; i < view.count(); ++i) {
        if (reinterpret_cast<const void*>(&entries[i]) == resource) {
            return &entries[i];
        }
    }
    return nullptr;
}

bool entryFits(const TableView& view, const ResourceEntry& entry) {
    return entry.offset <= view.size && entry.size <= view.size - entry.offset;
}

// The entry of `module`'s table that a resource handle stands for, with the
// table in `view`; null, with the last error set, when there is none.
const ResourceEntry* resourceEntry(HMODULE module, HRSRC resource, TableView& view) {
    DWORD error = locateTable(module, view);
    const ResourceEntry* entry = error == ERROR_SUCCESS ? entryOf(view, resource) : nullptr;
    if (entry == nullptr) {
        SetLastError(error != ERROR_SUCCESS ? error : DWORD(ERROR_INVALID_HANDLE));
    }
    return entry;
}

// Runs a module call, turning exhausted memory into its error code.
template <typename Result, typename Call> Result guarded(Result failure, Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

template <typename Result> Result fail(DWORD error, Result result) {
    SetLastError(error);
    return result;
}

HMODULE mapDataFile(LPCSTR path) {
    MappedFile file;
    DWORD error = file.map(path);
    if (error != ERROR_SUCCESS || !isNativeElf(file.data(), file.size())) {
        return fail(error != ERROR_SUCCESS ? error : DWORD(ERROR_BAD_EXE_FORMAT), HMODULE(nullptr));
    }
    auto module = reinterpret_cast<HMODULE>(reinterpret_cast<ULONG_PTR>(file.data()) | 1);
    std::lock_guard<std::mutex> guard(recordsLock());
    ModuleRecord& record = records()[module];
    record.isDataFile = true;
    record.imageSize = file.size();
    record.image = file.release();
    record.references = 1;
    return module;
}

HMODULE loadLibrary(LPCSTR path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        struct stat info {};
        return fail(stat(path, &info) == 0 ? DWORD(ERROR_BAD_EXE_FORMAT)
                                           : DWORD(ERROR_MOD_NOT_FOUND),
                    HMODULE(nullptr));
    }
    struct link_map* map = nullptr;
    Dl_info info{};
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        dladdr(map->l_ld, &info) == 0) {
        dlclose(handle);
        return fail(DWORD(ERROR_BAD_EXE_FORMAT), HMODULE(nullptr));
    }
    return recordLibrary(static_cast<HMODULE>(info.dli_fbase), handle);
}

} // namespace

HMODULE LoadLibraryA(LPCSTR path) {
    return LoadLibraryExA(path, nullptr, 0);
}

HMODULE LoadLibraryExA(LPCSTR path, HANDLE, DWORD flags) {
    if (path == nullptr || *path == '\0') {
        return fail(DWORD(ERROR_INVALID_PARAMETER), HMODULE(nullptr));
    }
    if ((flags & ~LOAD_LIBRARY_AS_DATAFILE) != 0) {
        return fail(DWORD(ERROR_NOT_SUPPORTED), HMODULE(nullptr));
    }
    if (const BuiltinLibrary* builtin = findBuiltinByName(path)) {
        return builtinHandle(*builtin);
    }
    return guarded(HMODULE(nullptr), [&]() -> HMODULE {
        // A module that is loaded already is handed out again, also as a
        // data file, with one more reference.
        LoadedObject loaded;
        if (findLoadedByFile(path, loaded)) {
            void* handle = openLoaded(loaded);
            return handle != nullptr ? recordLibrary(loaded.base, handle)
                                     : fail(DWORD(ERROR_MOD_NOT_FOUND), HMODULE(nullptr));
        }
        return (flags & LOAD_LIBRARY_AS_DATAFILE) ? mapDataFile(path) : loadLibrary(path);
    });
}

BOOL FreeLibrary(HMODULE module) {
    if (findBuiltin(module) != nullptr) {
        return TRUE;
    }
    std::lock_guard<std::mutex> guard(recordsLock());
    auto at = records().find(module);
    if (at == records().end()) {
        return fail(DWORD(ERROR_INVALID_HANDLE), FALSE);
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

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (name == nullptr || IS_INTRESOURCE(name)) {
        return fail(DWORD(ERROR_PROC_NOT_FOUND), FARPROC(nullptr));
    }
    if (const BuiltinLibrary* builtin = findBuiltin(module)) {
        for (size_t i = 0; i < builtin->exportCount; ++i) {
            if (std::strcmp(builtin->exports[i].name, name) == 0) {
                return builtin->exports[i].address;
            }
        }
        return fail(DWORD(ERROR_PROC_NOT_FOUND), FARPROC(nullptr));
    }
    return guarded(FARPROC(nullptr), [&]() -> FARPROC {
        ModuleRecord record;
        LoadedObject object;
        bool recorded = findRecord(module, record);
        if ((recorded && record.isDataFile) || (!recorded && !findLoadedByBase(module, object))) {
            return fail(DWORD(ERROR_INVALID_HANDLE), FARPROC(nullptr));
        }
        void* handle = recorded ? record.loaderHandle : openLoaded(object);
        void* symbol = handle != nullptr ? dlsym(handle, name) : nullptr;
        if (!recorded && handle != nullptr) {
            dlclose(handle);
        }
        // Only the module's own exports, not those of the libraries it uses.
        Dl_info info{};
        if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fbase != module) {
            return fail(DWORD(ERROR_PROC_NOT_FOUND), FARPROC(nullptr));
        }
        return symbol;
    });
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    std::string path;
    bool found = guarded(false, [&]() {
        if (module == nullptr) {
            path = mainProgramPath();
        } else if (const BuiltinLibrary* builtin = findBuiltin(module)) {
            path = builtin->fileName;
        } else {
            LoadedObject object;
            if (findLoadedByBase(module, object)) {
                path = object.path;
            }
        }
        return !path.empty();
    });
    if (!found) {
        return fail(DWORD(ERROR_MOD_NOT_FOUND), DWORD(0));
    }
    if (buffer == nullptr || size == 0) {
        return fail(DWORD(ERROR_INSUFFICIENT_BUFFER), DWORD(0));
    }
    // A name that does not fit is cut, terminated, and reported as filling
    // the buffer, as Windows does.
    if (path.size() >= size) {
        std::memcpy(buffer, path.c_str(), size - 1);
        buffer[size - 1] = '\0';
        return fail(DWORD(ERROR_INSUFFICIENT_BUFFER), size);
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return DWORD(path.size());
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    struct stat info {};
    if (longPath == nullptr) {
        return fail(DWORD(ERROR_INVALID_PARAMETER), DWORD(0));
    }
    if (stat(longPath, &info) != 0) {
        return fail(DWORD(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND), DWORD(0));
    }
    size_t length = std::strlen(longPath);
    if (shortPath == nullptr || length >= size) {
        return DWORD(length + 1);
    }
    std::memmove(shortPath, longPath, length + 1);
    return DWORD(length);
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    // No thread notifications are sent on POSIX, so there is nothing to turn
    // off; the module still has to be a real one.
    return module != nullptr ? TRUE : fail(DWORD(ERROR_INVALID_HANDLE), FALSE);
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if (name == nullptr || type == nullptr) {
        return fail(DWORD(ERROR_INVALID_PARAMETER), HRSRC(nullptr));
    }
    return guarded(HRSRC(nullptr), [&]() -> HRSRC {
        TableView view;
        DWORD error = locateTable(module, view);
        if (error != ERROR_SUCCESS) {
            return fail(error, HRSRC(nullptr));
        }
        bool typeFound = false;
        const ResourceEntry* entries = view.entries();
        for (uint32_t i = 0; i < view.count(); ++i) {
            if (!sameIdentifier(view, entries[i].type, type)) {
                continue;
            }
            typeFound = true;
            if (sameIdentifier(view, entries[i].name, name) && entryFits(view, entries[i])) {
                return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&entries[i]));
            }
        }
        return fail(
            DWORD(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND),
            HRSRC(nullptr));
    });
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    return guarded(HGLOBAL(nullptr), [&]() -> HGLOBAL {
        TableView view;
        const ResourceEntry* entry = resourceEntry(module, resource, view);
        return entry == nullptr ? nullptr : const_cast<unsigned char*>(view.base + entry->offset);
    });
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    return guarded(DWORD(0), [&]() -> DWORD {
        TableView view;
        const ResourceEntry* entry = resourceEntry(module, resource, view);
        return entry == nullptr ? 0 : entry->size;
    });
}

LPVOID LockResource(HGLOBAL data) {
    return data;
}

HMODULE ModuleFromAddress(const void* address) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0) {
        return nullptr;
    }
    return static_cast<HMODULE>(info.dli_fbase);
}
