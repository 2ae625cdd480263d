#include "OpenInBrowser.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string pageFolder() {
    for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* folder = std::getenv(variable);
        struct stat status;
        if (folder != nullptr && *folder == '/' && stat(folder, &status) == 0 &&
            S_ISDIR(status.st_mode)) {
            return folder;
        }
    }
    return "/tmp";
}

bool writeAll(int file, const std::string& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = write(file, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += size_t(count);
    }
    return true;
}

// A new file of mode 0600 holding the whole page; its path in `path`.
bool writePrivateFile(const std::string& page, std::string& path, std::string& error) {
    std::string name = pageFolder() + "/dnswhois-XXXXXX.html";
    int file = mkstemps(&name[0], 5);
    if (file < 0) {
        error =
            "cannot create a file for the page in " + pageFolder() + ": " + std::strerror(errno);
        return false;
    }
    bool written = writeAll(file, page);
    int writeError = errno;
    if (close(file) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        unlink(name.c_str());
        error = "cannot write the page to " + name + ": " + std::strerror(writeError);
        return false;
    }
    path = name;
    return true;
}

// Runs `arguments` and waits; the exit status, or -1 with `error` set when
// it could not run or ended on a signal.
int run(const std::vector<std::string>& arguments, std::string& error) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    int result = posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    if (result != 0) {
        error = "cannot start " + arguments[0] + ": " + std::strerror(result);
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) {
        error = arguments[0] + " ended on a signal";
        return -1;
    }
    return WEXITSTATUS(status);
}

// A command of $BROWSER as a shell script of the file "$1": each "%s" stands
// for it; without one it comes last.
std::string withFile(const std::string& command) {
    std::string script;
    size_t from = 0;
    for (size_t mark; (mark = command.find("%s", from)) != std::string::npos; from = mark + 2) {
        script += command.substr(from, mark - from) + "\"$1\"";
    }
    return from == 0 ? command + " \"$1\"" : script + command.substr(from);
}

// Each command of $BROWSER in turn, through the shell with the file as "$1",
// until one succeeds.
bool runBrowserCommands(const std::string& commands, const std::string& file, std::string& error) {
    size_t start = 0;
    error = "$BROWSER names no command";
    while (start <= commands.size()) {
        size_t end = commands.find(':', start);
        std::string command = commands.substr(start, end - start);
        start = end == std::string::npos ? commands.size() + 1 : end + 1;
        if (command.empty()) {
            continue;
        }
        std::string script = withFile(command);
        int status = run({"/bin/sh", "-c", script, "sh", file}, error);
        if (status == 0) {
            return true;
        }
        if (status > 0) {
            error = "the browser command '" + command + "' failed (exit status " +
                    std::to_string(status) + ")";
        }
    }
    return false;
}

} // namespace

bool OpenInBrowser(const std::string& page, std::string& error) {
    std::string file;
    if (!writePrivateFile(page, file, error)) {
        return false;
    }
    const char* browser = std::getenv("BROWSER");
    bool opened = false;
    if (browser != nullptr && *browser != '\0') {
        opened = runBrowserCommands(browser, file, error);
    } else {
        int status = run({"xdg-open", file}, error);
        opened = status == 0;
        if (status > 0) {
            error =
                "xdg-open could not open " + file + " (exit status " + std::to_string(status) + ")";
        }
    }
    if (!opened) {
        unlink(file.c_str());
    }
    return opened;
}
