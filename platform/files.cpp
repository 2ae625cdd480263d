// Files: made, written, flushed, moved and deleted through handles.
//
// Divisions, in order:
//   - file objects: a handle's open file descriptor
//   - errors: errno as the Windows error codes
//   - creating: CreateFileA
//   - writing: WriteFile and FlushFileBuffers
//   - moving and deleting: MoveFileExA, ReplaceFileA and DeleteFileA
//
// Where this differs from Windows, and why:
// - Sharing modes are not enforced: POSIX has no mandatory locks for them.
//   Two handles may write one file at once here where Windows refuses the
//   second CreateFileA.
// - There is no asynchronous input and output (OVERLAPPED), which nothing
//   here uses.
// - MoveFileExA moves within one file system only (rename(2)), as
//   MOVEFILE_COPY_ALLOWED is not offered, and replaces nothing but files and
//   links (not a device such as /dev/full). ReplaceFileA keeps the replaced
//   file's permission bits (Windows keeps its attributes and access rights)
//   and makes no backup; it flushes the move to the disk, as MoveFileExA
//   does with MOVEFILE_WRITE_THROUGH.
#include "platform/fileapi.h"
#include "platform/handletable.h"
#include "platform/lasterror.h"
#include "platform/systemcalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

// --- file objects --------------------------------------------------------------------------------

namespace {

struct FileObject : KernelObject {
    static const ObjectKind Kind = ObjectKind::File;
    FileObject(int descriptor, std::string filePath)
        : KernelObject(Kind, 1), fd(descriptor), path(std::move(filePath)) {}
    ~FileObject() override { close(fd); }
    // Waiting on a file waits for its input and output, which is always done.
    bool IsSignalled() const override { return true; }

    const int fd;
    const std::string path;
};

// --- errors --------------------------------------------------------------------------------------

DWORD windowsError(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_WRITE_FAULT;
    }
}

// Fails the call with errno's Windows code.
template <typename Result> Result failWithErrno(Result result) {
    return Fail(windowsError(errno), result);
}

int openFlags(DWORD access, DWORD disposition) {
    int flags = O_CLOEXEC;
    bool reads = (access & GENERIC_READ) != 0;
    bool writes = (access & GENERIC_WRITE) != 0;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        return flags | O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
        return flags | O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
        return flags;
    case OPEN_ALWAYS:
        return flags | O_CREAT;
    case TRUNCATE_EXISTING:
        return writes ? flags | O_TRUNC : -1; // Windows wants write access for it
    default:
        return -1;
    }
}

// The folder of `path` ("." for a bare name).
std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

// --- creating ------------------------------------------------------------------------------------

namespace {

HANDLE createFile(std::string path, DWORD access, DWORD disposition) {
    int flags = openFlags(access, disposition);
    if (flags == -1) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE);
    }
    struct stat info {};
    bool existed = stat(path.c_str(), &info) == 0;
    int fd = systemcalls::Open(path.c_str(), flags, 0666);
    if (fd < 0) {
        return failWithErrno(INVALID_HANDLE_VALUE);
    }
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        return Fail(DWORD(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE);
    }
    auto* file = new (std::nothrow) FileObject(fd, std::move(path));
    if (file == nullptr) {
        close(fd);
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), INVALID_HANDLE_VALUE);
    }
    if (RegisterHandle(file) == nullptr) {
        delete file;
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), INVALID_HANDLE_VALUE);
    }
    // Windows tells a caller that asked for a file made or opened, either
    // way, that it was there already.
    bool either = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(either && existed ? DWORD(ERROR_ALREADY_EXISTS) : DWORD(ERROR_SUCCESS));
    return file;
}

} // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
    systemcalls::ForgetFailure();
    if (path == nullptr) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE);
    }
    return Guarded(INVALID_HANDLE_VALUE,
                   [&]() { return createFile(std::string(path), access, disposition); });
}

// --- writing -------------------------------------------------------------------------------------

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) {
        *written = 0;
    }
    if (overlapped != nullptr || (data == nullptr && size > 0)) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), FALSE);
    }
    return WithLockedObject<FileObject>(file, FALSE, [&](FileObject& object) {
        if (!systemcalls::WriteAll(object.fd, data, size, object.path.c_str())) {
            return failWithErrno(FALSE);
        }
        if (written != nullptr) {
            *written = size;
        }
        return TRUE;
    });
}

BOOL FlushFileBuffers(HANDLE file) {
    return WithLockedObject<FileObject>(file, FALSE, [](FileObject& object) {
        return systemcalls::Sync(object.fd, object.path.c_str()) ? TRUE : failWithErrno(FALSE);
    });
}

// --- moving and deleting -------------------------------------------------------------------------

namespace {

// The move is on the disk once the folder that holds the new name is.
BOOL syncFolderOf(const std::string& path) {
    std::string folder = folderOf(path);
    int fd = systemcalls::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = fd >= 0 && systemcalls::Sync(fd, folder.c_str());
    int error = errno;
    if (fd >= 0) {
        close(fd);
    }
    errno = error;
    return synced ? TRUE : failWithErrno(FALSE);
}

// Only a file (or a link) is replaced, as on Windows: not a folder, and not
// a device, which a file put in its place would destroy.
bool replaceable(const struct stat& info) {
    return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
}

} // namespace

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (from == nullptr || to == nullptr) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), FALSE);
    }
    struct stat info {};
    if (lstat(to, &info) == 0) {
        if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
            return Fail(DWORD(ERROR_ALREADY_EXISTS), FALSE);
        }
        if (!replaceable(info)) {
            return Fail(DWORD(ERROR_ACCESS_DENIED), FALSE);
        }
    }
    if (!systemcalls::Rename(from, to)) {
        return failWithErrno(FALSE);
    }
    if ((flags & MOVEFILE_WRITE_THROUGH) == 0) {
        return TRUE;
    }
    return Guarded(FALSE, [to]() { return syncFolderOf(to); });
}

BOOL ReplaceFileA(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD, LPVOID, LPVOID) {
    if (replaced == nullptr || replacement == nullptr) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), FALSE);
    }
    if (backup != nullptr) {
        return Fail(DWORD(ERROR_NOT_SUPPORTED), FALSE);
    }
    struct stat info {};
    if (stat(replaced, &info) != 0) {
        return failWithErrno(FALSE);
    }
    if (!replaceable(info)) {
        return Fail(DWORD(ERROR_ACCESS_DENIED), FALSE);
    }
    // The replaced file's permissions stay with its name, as its attributes
    // and access rights do on Windows.
    if (chmod(replacement, info.st_mode & 07777) != 0) {
        return failWithErrno(FALSE);
    }
    if (!systemcalls::Rename(replacement, replaced)) {
        return failWithErrno(FALSE);
    }
    return Guarded(FALSE, [replaced]() { return syncFolderOf(replaced); });
}

BOOL DeleteFileA(LPCSTR path) {
    if (path == nullptr) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), FALSE);
    }
    struct stat info {};
    if (lstat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
        return Fail(DWORD(ERROR_ACCESS_DENIED), FALSE);
    }
    return unlink(path) == 0 ? TRUE : failWithErrno(FALSE);
}
