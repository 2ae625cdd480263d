// Runs one of the project's programs for a test: its standard output and
// error collected, its exit status known, and never left running.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct ProgramResult {
    int exitStatus = -1; // -1: killed by a signal, or never started
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess(); // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // arguments[0] is the program's path. Standard input is /dev/null;
    // standard output goes to the file `standardOutput` when one is named.
    bool Start(const std::vector<std::string>& arguments, const std::string& standardOutput = "");
    void Signal(int signal);
    // Reads both outputs to their end and waits for the exit; a child that
    // takes longer than `timeoutMs` in all is killed.
    ProgramResult Finish(int timeoutMs = 30000);

private:
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

ProgramResult RunProgram(const std::vector<std::string>& arguments,
                         const std::string& standardOutput = "");

// A file of the build: $HOLLIN_BUILD_DIR/name.
std::string BuildFile(const std::string& name);

// Runs the build's program `name` with `arguments`.
ProgramResult RunBuildProgram(const std::string& name, std::vector<std::string> arguments);

// What every program of the build answers alike: --version with its name and
// the project's version, -h with its usage, and an unknown option with a
// message and exit status 2.
void ExpectCommonOptions(const std::string& name);
