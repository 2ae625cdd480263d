// The platform layer's own files: read whole, or mapped, the POSIX way.
//
// Divisions, in order:
//   - reading whole files: ReadFileText, ReadOpenFile
//   - mapping: MappedFile
//
// Where this differs from Windows, and why:
// - Not a Windows interface. The stand-ins keep in plain files what Windows
//   keeps in system stores (the registry in its hives, resources in a
//   module's PE image), and read those files through here.
#include "platform/posixfile.h"

#include "platform/winerror.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

// --- reading whole files -------------------------------------------------------------------------

FILETIME ModificationTimeOf(const struct stat& info) {
    // 100-nanosecond steps since 1601-01-01, the epoch of FILETIME.
    const uint64_t unixEpoch = 116444736000000000ull;
    uint64_t ticks = unixEpoch + uint64_t(info.st_mtim.tv_sec) * 10000000ull +
                     uint64_t(info.st_mtim.tv_nsec) / 100;
    return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

LONG ReadOpenFile(int descriptor, std::string& text, struct stat& info, size_t limit) {
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        return ERROR_CANTREAD;
    }
    char buffer[8192];
    while (limit > 0) {
        ssize_t got = read(descriptor, buffer, std::min(limit, sizeof buffer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return ERROR_CANTREAD;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, size_t(got));
        limit -= size_t(got);
    }
    return ERROR_SUCCESS;
}

LONG ReadFileText(const std::string& path, std::string& text, size_t limit) {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        return (errno == ENOENT || errno == ENOTDIR) ? ERROR_FILE_NOT_FOUND : ERROR_CANTREAD;
    }
    struct stat info {};
    return ReadOpenFile(file.Get(), text, info, limit);
}

// --- mapping -------------------------------------------------------------------------------------

MappedFile::~MappedFile() {
    if (data != nullptr) {
        munmap(data, size);
    }
}

DWORD MappedFile::Map(const char* path) {
    FileDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        return ERROR_FILE_NOT_FOUND;
    }
    struct stat info {};
    if (fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        void* mapped = mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, file.Get(), 0);
        if (mapped != MAP_FAILED) {
            data = static_cast<unsigned char*>(mapped);
            size = size_t(info.st_size);
        }
    }
    return data != nullptr ? ERROR_SUCCESS : ERROR_BAD_EXE_FORMAT;
}
