// ELF files: telling an ELF file of this machine, and finding a section of
// one by name, from the file's bytes alone.
//
// Divisions, in order:
//   - the file header: IsNativeElf
//   - sections: FindElfSection
//
// Where this differs from Windows, and why:
// - Windows reads a module's resources from the resource directory of its PE
//   file. An ELF file has no such directory, so the build puts the resource
//   table in a section of its own (see platform/resourcetable.h), which is
//   found here by name through the section headers. Those headers are not
//   loaded with the module: they are read from the file, which is checked as
//   untrusted input (every offset against the file's size).
#include "platform/elf.h"

#include <elf.h>

#include <cstring>

// --- the file header -----------------------------------------------------------------------------

bool IsNativeElf(const unsigned char* image, size_t size) {
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

// --- sections ------------------------------------------------------------------------------------

bool FindElfSection(const unsigned char* image, size_t size, const char* name, ElfSection& found) {
    if (!IsNativeElf(image, size)) {
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
    size_t wantedLength = std::strlen(name) + 1;
    for (size_t i = 0; i < count; ++i) {
        ElfW(Shdr) section = sectionAt(i);
        if (section.sh_name >= names.sh_size || names.sh_size - section.sh_name < wantedLength ||
            std::memcmp(image + names.sh_offset + section.sh_name, name, wantedLength) != 0) {
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
