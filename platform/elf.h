// Reading the sections of an ELF file, as the resource stand-ins find their
// table in a module's file.
//
// Internal to the platform layer.
#pragma once

#include <link.h>

#include <cstddef>

// Whether `image` starts like an ELF file of this machine's class and byte
// order.
bool IsNativeElf(const unsigned char* image, size_t size);

struct ElfSection {
    ElfW(Addr) address = 0; // where it is loaded, before the module's bias
    size_t offset = 0;      // where it is in the file
    size_t size = 0;
    bool allocated = false; // loaded into memory with the module
};

// Finds the section called `name` through the section headers of the ELF
// file `image`, checking every offset against the image's size. False when
// there is no such section with its bytes in the file.
bool FindElfSection(const unsigned char* image, size_t size, const char* name, ElfSection& found);
