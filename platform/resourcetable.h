// The layout of a module's resources on POSIX, where no executable format
// carries Windows resources.
//
// The build compiles the resource files into one table (see
// cmake/ResourceTable.cmake) and puts it in a section of its own of the
// module, named by resourceSectionName. The table holds no pointers, only
// offsets from its own start, so that the same bytes serve whether the module
// is loaded or only read as a file (LOAD_LIBRARY_AS_DATAFILE).
#pragma once

#include <cstdint>

#define HOLLIN_RESOURCE_SECTION "hollin_resources"

struct ResourceTableHeader {
    char magic[8];  // "HOLLRSRC", no NUL
    uint32_t count; // entries that follow the header
    uint32_t size;  // bytes of the whole table, header included
};

// A resource type or name is an integer identifier when bit 31 is set (the
// identifier is in the low 16 bits) and otherwise the offset of a
// NUL-terminated text. `offset` and `size` give the resource's bytes.
struct ResourceEntry {
    uint32_t type;
    uint32_t name;
    uint32_t offset;
    uint32_t size;
};

const uint32_t ResourceIntegerFlag = 0x80000000u;

// The table of the module this code is linked into, defined by the
// generated file. The reference is weak, so that a module linked without a
// table (a host, which has no resources of its own) links all the same: the
// variable's address is then null, and the module has no resources. (The
// generated definition is weak too; as the only one, it is the one used.)
extern const ResourceTableHeader* const OwnResourceTable
    __attribute__((weak, visibility("hidden")));
