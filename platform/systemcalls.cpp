// The stand-ins' file calls, with the failures a test injects and the
// record of the last real or injected failure.
//
// Divisions, in order:
//   - injected failures: InjectFileFault
//   - the record of the last failure: GetLastFileFailure
//   - the calls
//
// Where this differs from Windows, and why:
// - Not a Windows interface. Windows reports a failed file call through the
//   last error alone; the stand-ins keep the POSIX call, its path and errno as
//   well, since "access denied" says little when the file in question is a
//   temporary one the caller never named.
#include "platform/systemcalls.h"

#include "platform/fileapi.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <type_traits>

// --- injected failures ---------------------------------------------------------------------------

namespace {

const int FileCallCount = FileCallLock + 1;

struct Fault {
    unsigned long callsLeft = 0; // 0: none armed
    int error = 0;
};

std::mutex faultLock;
Fault faults[FileCallCount];
// Whether any fault is armed, so that the calls take no lock when none is.
std::atomic<int> armedFaults{0};

// Whether this use of `call` is the one made to fail; then errno is set.
bool failsNow(FileCall call) {
    if (armedFaults.load(std::memory_order_acquire) == 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(faultLock);
    Fault& fault = faults[call];
    if (fault.callsLeft == 0 || --fault.callsLeft != 0) {
        return false;
    }
    armedFaults.fetch_sub(1);
    errno = fault.error;
    return true;
}

} // namespace

void InjectFileFault(FileCall call, unsigned long nth, int error) {
    if (call < FileCallOpen || call > FileCallLock) {
        return;
    }
    std::lock_guard<std::mutex> guard(faultLock);
    Fault& fault = faults[call];
    armedFaults.fetch_add((nth != 0 ? 1 : 0) - (fault.callsLeft != 0 ? 1 : 0));
    fault.callsLeft = nth;
    fault.error = error;
}

// --- the record of the last failure --------------------------------------------------------------

// Shared by the copies of this layer in one process: a library (hollin.so)
// links its own, and its failures are the ones a host (regsvr) has to tell.
// The program offers its record under this name (regsvr exports it); a copy
// that finds none keeps its own.
struct FileFailureRecord {
    std::mutex lock;
    char text[2048] = "";
};

namespace {

// Constant-initialised and with nothing to destroy, so that it serves every
// thread until the process ends, and a library unloaded leaves nothing
// behind.
FileFailureRecord ownRecord;
static_assert(std::is_trivially_destructible<FileFailureRecord>::value,
              "the record outlives static destruction");

} // namespace

extern "C" FileFailureRecord* HollinFileFailureRecord() {
    return &ownRecord;
}

namespace {

FileFailureRecord& failureRecord() {
    static FileFailureRecord* record = [] {
        auto programs = reinterpret_cast<FileFailureRecord* (*)()>(
            dlsym(RTLD_DEFAULT, "HollinFileFailureRecord"));
        return programs != nullptr ? programs() : HollinFileFailureRecord();
    }();
    return *record;
}

// Notes the failure of `call` on `path` (and `secondPath`), keeping errno.
void noteFailure(const char* call, const char* path, const char* secondPath = nullptr) {
    int error = errno;
    FileFailureRecord& record = failureRecord();
    char reason[256];
    // The GNU strerror_r, which may answer a text of its own instead of
    // filling the buffer.
    const char* reasonText = strerror_r(error, reason, sizeof reason);
    {
        std::lock_guard<std::mutex> guard(record.lock);
        std::snprintf(record.text, sizeof record.text, "%s(%s%s%s): %s", call, path,
                      secondPath != nullptr ? ", " : "", secondPath != nullptr ? secondPath : "",
                      reasonText);
    }
    errno = error;
}

} // namespace

void systemcalls::ForgetFailure() {
    FileFailureRecord& record = failureRecord();
    std::lock_guard<std::mutex> guard(record.lock);
    record.text[0] = '\0';
}

DWORD GetLastFileFailure(LPSTR text, DWORD size) {
    FileFailureRecord& record = failureRecord();
    std::lock_guard<std::mutex> guard(record.lock);
    size_t length = std::strlen(record.text);
    if (text != nullptr && size > 0) {
        size_t copied = length < size ? length : size - 1;
        std::memcpy(text, record.text, copied);
        text[copied] = '\0';
    }
    return DWORD(length);
}

// --- the calls -----------------------------------------------------------------------------------

int systemcalls::Open(const char* path, int flags, mode_t mode) {
    int fd = failsNow(FileCallOpen) ? -1 : open(path, flags, mode);
    if (fd < 0) {
        noteFailure("open", path);
    }
    return fd;
}

bool systemcalls::WriteAll(int fd, const void* data, size_t size, const char* path) {
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t written = failsNow(FileCallWrite) ? -1 : write(fd, bytes + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC; // what a write that makes no progress means
            }
            noteFailure("write", path);
            return false;
        }
        done += size_t(written);
    }
    return true;
}

bool systemcalls::Sync(int fd, const char* path) {
    if (failsNow(FileCallSync) || fsync(fd) != 0) {
        noteFailure("fsync", path);
        return false;
    }
    return true;
}

bool systemcalls::Rename(const char* from, const char* to) {
    if (failsNow(FileCallRename) || rename(from, to) != 0) {
        noteFailure("rename", from, to);
        return false;
    }
    return true;
}

bool systemcalls::Lock(int fd, const char* path) {
    for (;;) {
        if (failsNow(FileCallLock)) {
            break;
        }
        if (flock(fd, LOCK_EX) == 0) {
            return true;
        }
        if (errno != EINTR) {
            break;
        }
    }
    noteFailure("flock", path);
    return false;
}
