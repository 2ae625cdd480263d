// The registry file: where the registry lives, and how it is read and changed
// by processes that share it.
//
// Divisions, in order:
//   - where the file is: HOLLIN_REGISTRY, or the default under the user's
//     data folder
//   - locks: the lock files beside the registry file
//   - reading: the file as it is now
//   - changing: read-modify-write under the lock, and the atomic replacement
//
// The file is the registry: nothing is cached between calls, so two
// processes that share the file see each other's changes at once. A change
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
// - Every call reads the whole file again and every change rewrites it,
//   which suits the few keys a registration writes; a large registry would
//   make every call slow.
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

#include <cerrno>
#include <cstdlib>

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

LONG loadFrom(const std::string& path, Tree& tree, FILETIME* modified) {
    std::string text;
    LONG result = ReadFileText(path, text, modified);
    if (result == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS; // no file yet: an empty registry
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return Parse(text, tree) ? ERROR_SUCCESS : ERROR_BADDB;
}

} // namespace

LONG Load(Tree& tree, FILETIME* modified) {
    return loadFrom(FilePath(), tree, modified);
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
    LONG result = loadFrom(path, tree, nullptr);
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
