// The POSIX file calls of the stand-ins, made through one place so that a
// test can make any of them fail (InjectFileFault in fileapi.h) and so that
// the last one to fail is remembered with its path and errno
// (GetLastFileFailure), for a host to say what went wrong where.
//
// Internal to the platform layer. Each call answers as its POSIX call does
// and leaves errno set when it fails.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace systemcalls {

// open(2).
int Open(const char* path, int flags, mode_t mode = 0);
// Writes all `size` bytes, through short writes and interruptions; false
// when a write fails or writes nothing.
bool WriteAll(int fd, const void* data, size_t size, const char* path);
// fsync(2).
bool Sync(int fd, const char* path);
// rename(2).
bool Rename(const char* from, const char* to);
// flock(LOCK_EX), waiting through interruptions.
bool Lock(int fd, const char* path);

// Forgets the last failure: a change that begins has not failed yet.
void ForgetFailure();

} // namespace systemcalls
