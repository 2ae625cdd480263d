// The platform layer's own files, read and closed the POSIX way.
#include "platform/posixfile.h"

#include "platform/winerror.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace {

FILETIME fileTimeOf(const struct stat& info) {
    // 100-nanosecond steps since 1601-01-01, the epoch of FILETIME.
    const uint64_t unixEpoch = 116444736000000000ull;
    uint64_t ticks = unixEpoch + uint64_t(info.st_mtim.tv_sec) * 10000000ull +
                     uint64_t(info.st_mtim.tv_nsec) / 100;
    return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

} // namespace

LONG readFileText(const std::string& path, std::string& text, FILETIME* modified, size_t limit) {
    if (modified != nullptr) {
        *modified = FILETIME{0, 0};
    }
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        return (errno == ENOENT || errno == ENOTDIR) ? ERROR_FILE_NOT_FOUND : ERROR_CANTREAD;
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return ERROR_CANTREAD;
    }
    if (modified != nullptr) {
        *modified = fileTimeOf(info);
    }
    char buffer[8192];
    while (limit > 0) {
        ssize_t got = read(file.get(), buffer, std::min(limit, sizeof buffer));
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
