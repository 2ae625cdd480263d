// File access shared by the stand-ins that keep their data in files (the
// registry file, type library files) or read them (module files).
//
// Internal to the platform layer. ReadFileText and ReadOpenFile may throw
// std::bad_alloc; their callers turn that into their own out-of-memory
// result.
#pragma once

#include "platform/wintypes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

// A file descriptor closed when it goes out of scope (which also gives up a
// flock held through it).
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }
    int Release() {
        int released = fd;
        fd = -1;
        return released;
    }

private:
    int fd;
};

// Appends the regular file at `path` to `text`, or its first `limit` bytes.
// Answers ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when there is no file at
// `path` (what that means is the caller's to say), or ERROR_CANTREAD.
LONG ReadFileText(const std::string& path, std::string& text, size_t limit = SIZE_MAX);
// Appends what is left of an open regular file to `text`, or its next
// `limit` bytes, and gives what fstat says of the file in `info`:
// ERROR_SUCCESS, or ERROR_CANTREAD (also for a file that is not regular).
LONG ReadOpenFile(int descriptor, std::string& text, struct stat& info, size_t limit = SIZE_MAX);
// A file's modification time as a FILETIME.
FILETIME ModificationTimeOf(const struct stat& info);

// A whole file mapped read-only; unmapped when it goes out of scope unless
// released.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the file at `path`. Answers ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
    // when the file cannot be opened, or ERROR_BAD_EXE_FORMAT when it is
    // empty, is no regular file or cannot be mapped (what a loader answers
    // for such a file).
    DWORD Map(const char* path);
    // Gives up the mapping, which the caller now unmaps (its size is Size()).
    unsigned char* Release() {
        unsigned char* mapped = data;
        data = nullptr;
        return mapped;
    }
    unsigned char* Data() const { return data; }
    size_t Size() const { return size; }

private:
    unsigned char* data = nullptr;
    size_t size = 0;
};
