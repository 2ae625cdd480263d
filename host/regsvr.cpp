// regsvr: plays the installer on Linux, as regsvr32 does on Windows. It
// loads a library and calls its registration export; the registry is the
// file the platform layer names (HOLLIN_REGISTRY, or its default).
#include "platform/winapi.h"

#include <dlfcn.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char Usage[] =
    "usage: regsvr [-u] LIBRARY\n"
    "\n"
    "Plays the installer: loads LIBRARY and calls its DllRegisterServer, or with\n"
    "-u its DllUnregisterServer, as regsvr32 does on Windows. The registry is the\n"
    "file named by HOLLIN_REGISTRY (by default\n"
    "$XDG_DATA_HOME/hollin/registry.reg or ~/.local/share/hollin/registry.reg).\n"
    "LIBRARY is taken as a path, also without a slash. Registrations run one at a\n"
    "time: a second regsvr waits for the first to finish.\n"
    "\n"
    "  -u      unregister\n"
    "  --help  this text\n"
    "\n"
    "Exit status:\n"
    "  0  the export answered S_OK\n"
    "  1  the library cannot be loaded, lacks the export, or the export failed\n"
    "     (its result code is printed)\n"
    "  2  bad usage\n";

enum ExitStatus { Registered = 0, Failed = 1, BadUsage = 2 };

typedef HRESULT(STDAPICALLTYPE* RegistrationFunction)();

struct Options {
    bool unregister = false;
    std::string library;
};

bool parseArguments(int argc, char** argv, Options& options, bool& help) {
    bool onlyNames = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (!onlyNames && (argument == "--help" || argument == "-h")) {
            help = true;
            return true;
        }
        if (!onlyNames && argument == "-u") {
            options.unregister = true;
        } else if (!onlyNames && argument == "--") {
            onlyNames = true;
        } else if (!onlyNames && argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "regsvr: unknown option %s\n", argument.c_str());
            return false;
        } else if (options.library.empty()) {
            options.library = argument;
        } else {
            std::fprintf(stderr, "regsvr: one library at a time\n");
            return false;
        }
    }
    if (options.library.empty()) {
        std::fprintf(stderr, "regsvr: no library given\n");
        return false;
    }
    return true;
}

// The library's absolute path: the class is registered under the path the
// library was loaded from, which has to be found again from anywhere.
bool absolutePath(const std::string& library, std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(library.c_str(), resolved) == nullptr) {
        std::fprintf(stderr, "regsvr: %s: %s\n", library.c_str(), std::strerror(errno));
        return false;
    }
    path = resolved;
    return true;
}

int registerLibrary(const Options& options) {
    std::string path;
    if (!absolutePath(options.library, path)) {
        return Failed;
    }
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) {
        const char* reason = dlerror();
        std::fprintf(stderr, "regsvr: cannot load %s (error %lu)%s%s\n", path.c_str(),
                     static_cast<unsigned long>(GetLastError()), reason != nullptr ? ": " : "",
                     reason != nullptr ? reason : "");
        return Failed;
    }
    const char* exportName = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto registration = reinterpret_cast<RegistrationFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, exportName)));
    int status = Registered;
    if (registration == nullptr) {
        std::fprintf(stderr, "regsvr: %s has no export %s\n", path.c_str(), exportName);
        status = Failed;
    } else {
        // One registration at a time, as installers run: two at once could
        // undo each other's keys.
        HANDLE installation = BeginRegistryInstallation();
        HRESULT result = registration();
        EndRegistryInstallation(installation);
        if (result != S_OK) {
            std::fprintf(stderr, "regsvr: %s in %s failed: 0x%08lX\n", exportName, path.c_str(),
                         static_cast<unsigned long>(static_cast<uint32_t>(result)));
            status = Failed;
        }
    }
    FreeLibrary(library);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parseArguments(argc, argv, options, help)) {
        std::fputs(Usage, stderr);
        return BadUsage;
    }
    if (help) {
        std::fputs(Usage, stdout);
        return Registered;
    }
    return registerLibrary(options);
}
