// The registry file: where the registry lives, and how it is read and changed
// by processes that share it.
//
// Divisions, in order:
//   - where the file is: HOLLIN_REGISTRY, or the default under the user's
//     data folder
//   - locks: the lock files beside the registry file
//   - reading: the file as it is now, and the last one read kept for as
//     long as it is the file at the path
//   - changing: read-modify-write under the lock, and the atomic replacement
//
// The file is the registry: every call looks at the file that is at the
// path now, so two processes that share the file see each other's changes
// at once; only a file that is the very one read before is not read and
// parsed again (see LastFileRead). A change
// is read-modify-write under flock(LOCK_EX) on a lock file beside the
// registry file (the registry file itself is replaced on every write, so it
// cannot carry the lock), and the new text goes to a temporary file that is
// flushed and renamed over the old one. Readers take no lock: the rename
// shows them either the old file or the new one, never a mixture. A file that
// cannot be read or parsed fails the change before anything is written, so a
// damaged registry is reported, not replaced by an empty one.
//
// Where this differs from Windows, and why:
// - The registry is a file of the user's, shared by every process that names
//   the same file; no part of it needs other rights to change
//   (HKEY_LOCAL_MACHINE is kept in the same file).
// - Every change rewrites the whole file, and every call made after it
//   reads the whole file again, which suits the few keys a registration
//   writes; a large registry would make every change slow.
// - A registration (a series of changes) can be made exclusive with a second
//   lock, which Windows leaves to the installer (see
//   BeginRegistryInstallation in advapi32.h).
#include "platform/registryfile.h"

#include "platform/posixfile.h"
#include "platform/systemcalls.h"
#include "platform/winerror.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace registry {

// --- where the file is ---------------------------------------------------------------------------

namespace {

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    struct passwd* user = getpwuid(getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

} // namespace

std::string FilePath() {
    const char* named = std::getenv("HOLLIN_REGISTRY");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string folder = (dataHome != nullptr && dataHome[0] == '/')
                             ? std::string(dataHome)
                             : homeFolder() + "/.local/share";
    return folder + "/hollin/registry.reg";
}

// --- locks ---------------------------------------------------------------------------------------

namespace {

// Creates the folders of `path` that are missing (not the last component).
bool makeParentFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

// Opens and locks the lock file `path` + `suffix` beside the registry.
int lockBeside(const std::string& path, const char* suffix) {
    if (!makeParentFolders(path)) {
        return -1;
    }
    std::string lockPath = path + suffix;
    FileDescriptor lock(systemcalls::Open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!lock.Valid() || !systemcalls::Lock(lock.Get(), lockPath.c_str())) {
        return -1;
    }
    return lock.Release();
}

} // namespace

// A lock file of its own: the write lock is taken and given up by every
// change inside the registration.
int LockInstallation() {
    return lockBeside(FilePath(), ".install");
}

// --- reading -------------------------------------------------------------------------------------

namespace {

bool missingFile() {
    return errno == ENOENT || errno == ENOTDIR;
}

// Reads and parses an open registry file; `info` receives what fstat says
// of it.
LONG parseOpenFile(int descriptor, struct stat& info, Tree& tree) {
    std::string text;
    if (ReadOpenFile(descriptor, text, info) != ERROR_SUCCESS) {
        return ERROR_CANTREAD;
    }
    return Parse(text, tree) ? ERROR_SUCCESS : ERROR_BADDB;
}

// The file at `path` as it is now; no file yet is an empty registry.
LONG loadFrom(const std::string& path, Tree& tree) {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        return missingFile() ? ERROR_SUCCESS : ERROR_CANTREAD;
    }
    struct stat info {};
    return parseOpenFile(file.Get(), info, tree);
}

bool sameTime(const timespec& one, const timespec& other) {
    return one.tv_sec == other.tv_sec && one.tv_nsec == other.tv_nsec;
}

// Whether two stats describe the same file with the same content, given
// that the first one's file is held open (see LastFileRead).
bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino &&
           one.st_size == other.st_size && sameTime(one.st_mtim, other.st_mtim) &&
           sameTime(one.st_ctim, other.st_ctim);
}

// How long a file must have been left alone, when it is read, to be kept:
// the file system stamps a change with the time of its clock's last tick,
// so a second change within the same tick would leave the times as the
// first one left them.
const time_t SettledSeconds = 2;

// Whether the file had been left alone long enough when it was read.
bool settled(const struct stat& file) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t latest = std::max(file.st_mtim.tv_sec, file.st_ctim.tv_sec);
    return now.tv_sec - latest >= SettledSeconds;
}

// The registry file last read, as parsed, kept with the file held open: a
// call that finds the same file at the path takes this tree instead of
// reading and parsing the file again, which is most of what a registry call
// costs (and a request asks for its settings a value at a time). Held open,
// the file's inode cannot pass to another file, so the same device and
// inode with the same size and times is the same text: writers replace the
// file and never change it in place, and a file changed in place still
// shows a new size or time once it has settled.
class LastFileRead {
public:
    LastFileRead() = default;
    LastFileRead(const LastFileRead&) = delete;
    LastFileRead& operator=(const LastFileRead&) = delete;
    ~LastFileRead() { Forget(); }

    bool Recall(const std::string& path, const struct stat& now, std::shared_ptr<const Tree>& tree,
                FILETIME* modified) {
        std::lock_guard<std::mutex> guard(lock);
        if (held < 0 || path != keptPath || !sameFile(kept, now)) {
            return false;
        }
        tree = keptTree;
        if (modified != nullptr) {
            *modified = ModificationTimeOf(kept);
        }
        return true;
    }

    // Keeps `tree`, read from `file` (taken over) as `read` describes it,
    // when the file had settled; else lets the file go.
    void Keep(const std::string& path, FileDescriptor& file, const struct stat& read,
              const std::shared_ptr<const Tree>& tree) {
        if (!settled(read)) {
            return;
        }
        std::lock_guard<std::mutex> guard(lock);
        Forget();
        keptPath = path;
        kept = read;
        keptTree = tree;
        held = file.Release();
    }

private:
    void Forget() {
        if (held >= 0) {
            close(held);
            held = -1;
        }
        keptTree.reset();
    }

    std::mutex lock;
    std::string keptPath;
    struct stat kept {};
    std::shared_ptr<const Tree> keptTree;
    int held = -1;
};

LastFileRead lastFileRead;

} // namespace

LONG Snapshot(std::shared_ptr<const Tree>& tree, FILETIME* modified) {
    if (modified != nullptr) {
        *modified = FILETIME{0, 0};
    }
    std::string path = FilePath();
    struct stat now {};
    bool found = stat(path.c_str(), &now) == 0;
    if (found && lastFileRead.Recall(path, now, tree, modified)) {
        return ERROR_SUCCESS;
    }
    FileDescriptor file(found ? open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1);
    if (!file.Valid()) {
        if (!missingFile()) {
            return ERROR_CANTREAD;
        }
        tree = std::make_shared<Tree>(); // no file yet: an empty registry
        return ERROR_SUCCESS;
    }
    struct stat read {};
    auto parsed = std::make_shared<Tree>();
    LONG result = parseOpenFile(file.Get(), read, *parsed);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (modified != nullptr) {
        *modified = ModificationTimeOf(read);
    }
    lastFileRead.Keep(path, file, read, parsed);
    tree = std::move(parsed);
    return ERROR_SUCCESS;
}

// --- changing ------------------------------------------------------------------------------------

namespace {

// Writes `text` beside `path`, flushes it, and renames it over `path`; the
// file keeps the permissions it had. Called only under the registry's lock,
// so one temporary name serves every writer: what a writer killed before its
// rename left there is overwritten by the next one, never left for good.
LONG replaceFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp";
    FileDescriptor file(
        systemcalls::Open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.Valid()) {
        return ERROR_CANTWRITE;
    }
    struct stat old {};
    bool written =
        (stat(path.c_str(), &old) != 0 || fchmod(file.Get(), old.st_mode & 07777) == 0) &&
        systemcalls::WriteAll(file.Get(), text.data(), text.size(), temporary.c_str()) &&
        systemcalls::Sync(file.Get(), temporary.c_str());
    written = close(file.Release()) == 0 && written;
    if (!written || !systemcalls::Rename(temporary.c_str(), path.c_str())) {
        unlink(temporary.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

} // namespace

LONG Update(const std::function<LONG(Tree& tree, bool& changed)>& change) {
    systemcalls::ForgetFailure();
    std::string path = FilePath();
    FileDescriptor lock(lockBeside(path, ".lock"));
    if (!lock.Valid()) {
        return ERROR_CANTWRITE;
    }
    Tree tree;
    LONG result = loadFrom(path, tree);
    bool changed = false;
    if (result == ERROR_SUCCESS) {
        result = change(tree, changed);
    }
    if (result == ERROR_SUCCESS && changed) {
        result = replaceFile(path, Format(tree));
    }
    return result;
}

} // namespace registry
