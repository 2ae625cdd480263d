// File access shared by the stand-ins that keep their data in files (the
// registry file, type library files).
//
// Internal to the platform layer. readFileText may throw std::bad_alloc; its
// callers turn that into their own out-of-memory result.
#pragma once

#include "platform/wintypes.h"

#include <unistd.h>

#include <cstdint>
#include <string>

// A file descriptor closed when it goes out of scope (which also gives up a
// flock held through it).
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Appends the regular file at `path` to `text`, or its first `limit` bytes.
// Answers ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when there is no file at
// `path` (what that means is the caller's to say), or ERROR_CANTREAD.
// `modified` (may be null) receives the file's modification time, 0 when
// there is none to give.
LONG readFileText(const std::string& path, std::string& text, FILETIME* modified = nullptr,
                  size_t limit = SIZE_MAX);
