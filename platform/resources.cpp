// Resources: finding and loading the resources the build compiles into a
// module.
//
// Divisions, in order:
//   - resource tables: the table of a module, found and checked before
//     anything reads it
//   - entries: identifiers and the entries that resource handles stand for
//   - finding and loading: FindResourceA, LoadResource, SizeofResource and
//     LockResource
//
// Resources are a table in a section of the module's file (see
// platform/resourcetable.h): found through the file's section headers, and
// read from memory when the module is loaded, from the mapped file when it
// is a data file. The module this code is linked into knows its own table,
// if it was linked with one, without reading its file.
//
// Where this differs from Windows, and why:
// - No executable format of POSIX carries Windows resources, so the build
//   compiles the resource files into a table of its own (see
//   cmake/ResourceTable.cmake); a module built without one has no
//   resources.
// - A resource handle points at the resource's entry in the table, and the
//   data LoadResource gives is the resource's bytes in the table itself:
//   nothing is copied, locked or freed, so LockResource answers what it is
//   given.
#include "platform/elf.h"
#include "platform/lasterror.h"
#include "platform/loader.h"
#include "platform/posixfile.h"
#include "platform/resourcetable.h"

#include <cstdlib>
#include <cstring>

// --- resource tables -----------------------------------------------------------------------------

namespace {

struct TableView {
    const unsigned char* base = nullptr;
    size_t size = 0;

    uint32_t Count() const {
        ResourceTableHeader header;
        std::memcpy(&header, base, sizeof header);
        return header.count;
    }
    const ResourceEntry* Entries() const {
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

// The table of the module this code is linked into; null when none was
// linked in.
const ResourceTableHeader* ownTable() {
    return &OwnResourceTable != nullptr ? OwnResourceTable : nullptr;
}

DWORD locateTable(HMODULE module, TableView& view) {
    if (module == nullptr) {
        module = MainProgramModule();
    }
    // A module without a table of its own is read from its file like any
    // other, and has no resource section there either.
    const ResourceTableHeader* own = ownTable();
    if (own != nullptr && module == ModuleFromAddress(own)) {
        return openTable(reinterpret_cast<const unsigned char*>(own), own->size, view)
                   ? ERROR_SUCCESS
                   : ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    if (FindBuiltin(module) != nullptr) {
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    ElfSection section;
    ModuleRecord record;
    if (FindRecord(module, record) && record.isDataFile) {
        return FindElfSection(record.image, record.imageSize, HOLLIN_RESOURCE_SECTION, section) &&
                       openTable(record.image + section.offset, section.size, view)
                   ? ERROR_SUCCESS
                   : ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    LoadedObject object;
    if (!FindLoadedByBase(module, object)) {
        return ERROR_INVALID_HANDLE;
    }
    MappedFile file;
    if (file.Map(object.path.c_str()) != ERROR_SUCCESS ||
        !FindElfSection(file.Data(), file.Size(), HOLLIN_RESOURCE_SECTION, section) ||
        !section.allocated) {
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const auto* loaded = reinterpret_cast<const unsigned char*>(object.bias + section.address);
    return openTable(loaded, section.size, view) ? ERROR_SUCCESS : ERROR_RESOURCE_DATA_NOT_FOUND;
}

// --- entries -------------------------------------------------------------------------------------

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
    if (field & ResourceIntegerFlag) {
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
    const ResourceEntry* entries = view.Entries();
    for (uint32_t i = 0; i < view.Count(); ++i) {
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

} // namespace

// --- finding and loading -------------------------------------------------------------------------

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if (name == nullptr || type == nullptr) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), HRSRC(nullptr));
    }
    return Guarded(HRSRC(nullptr), [&]() -> HRSRC {
        TableView view;
        DWORD error = locateTable(module, view);
        if (error != ERROR_SUCCESS) {
            return Fail(error, HRSRC(nullptr));
        }
        bool typeFound = false;
        const ResourceEntry* entries = view.Entries();
        for (uint32_t i = 0; i < view.Count(); ++i) {
            if (!sameIdentifier(view, entries[i].type, type)) {
                continue;
            }
            typeFound = true;
            if (sameIdentifier(view, entries[i].name, name) && entryFits(view, entries[i])) {
                return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&entries[i]));
            }
        }
        return Fail(
            DWORD(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND),
            HRSRC(nullptr));
    });
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    return Guarded(HGLOBAL(nullptr), [&]() -> HGLOBAL {
        TableView view;
        const ResourceEntry* entry = resourceEntry(module, resource, view);
        return entry == nullptr ? nullptr : const_cast<unsigned char*>(view.base + entry->offset);
    });
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    return Guarded(DWORD(0), [&]() -> DWORD {
        TableView view;
        const ResourceEntry* entry = resourceEntry(module, resource, view);
        return entry == nullptr ? 0 : entry->size;
    });
}

LPVOID LockResource(HGLOBAL data) {
    return data;
}
