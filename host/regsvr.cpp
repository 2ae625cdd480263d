// regsvr: plays the installer on Linux, as regsvr32 does on Windows. It
// loads a library and calls its registration export; the registry is the
// file the platform layer names (HOLLIN_REGISTRY, or its default).
#include "platform/winapi.h"

#include "CommandLine.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

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
    "  -u, --unregister  unregister\n"
    "  -h, --help        this text\n"
    "  --version         the version\n"
    "\n"
    "Exit status:\n"
    "  0  the export answered S_OK\n"
    "  1  the library cannot be loaded, lacks the export, or the export failed\n"
    "     (its result code is printed and, when a file call on the registry\n"
    "     failed, which call on which path and why)\n"
    "  2  bad usage\n";

const char Program[] = "regsvr";

enum ExitStatus { Registered = 0, Failed = 1, BadUsage = 2 };

typedef HRESULT(STDAPICALLTYPE* RegistrationFunction)();

struct Options {
    bool unregister = false;
    std::string library;
};

enum OptionKey { VersionOption = 256 };

const option LongOptions[] = {
    {"unregister", no_argument, nullptr, 'u'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

// Returns -1 when the options are good, else the exit status.
int parseArguments(int argc, char** argv, Options& options) {
    for (int key; (key = commandline::NextOption(argc, argv, "uh", LongOptions)) != -1;) {
        switch (key) {
        case 'u':
            options.unregister = true;
            break;
        case 'h':
            std::fputs(Usage, stdout);
            return Registered;
        case VersionOption:
            return commandline::PrintVersion(Program);
        default:
            return commandline::ReportBadOption(Program, key, argv, LongOptions);
        }
    }
    if (optind == argc) {
        return commandline::UsageError(Program, "no library given");
    }
    if (argc - optind > 1) {
        return commandline::UsageError(Program, "one library at a time");
    }
    options.library = argv[optind];
    return -1;
}

// The library's absolute path, links resolved: the class is registered under
// the path the library was loaded from, which has to be found again from
// anywhere.
bool absolutePath(const std::string& library, std::string& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::canonical(library, error);
    if (error) {
        std::fprintf(stderr, "regsvr: %s: %s\n", library.c_str(), error.message().c_str());
        return false;
    }
    path = resolved.string();
    return true;
}

// The file call that failed in the registration, if one did: the library's
// copy of the platform layer keeps it in this program's (see the link options).
void reportFileFailure() {
    char failure[2048];
    if (GetLastFileFailure(failure, sizeof failure) > 0) {
        std::fprintf(stderr, "regsvr: the registry file could not be changed: %s\n", failure);
    }
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
            reportFileFailure();
            status = Failed;
        }
    }
    FreeLibrary(library);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int status = parseArguments(argc, argv, options);
    return status >= 0 ? status : registerLibrary(options);
}
