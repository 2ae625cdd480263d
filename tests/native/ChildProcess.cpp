#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildProcess::~ChildProcess() {
    if (pid > 0) {
        Signal(SIGKILL);
        Finish();
    }
}

bool ChildProcess::Start(const std::vector<std::string>& arguments,
                         const std::string& standardOutput) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (standardOutput.empty()) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, standardOutput.c_str(), O_WRONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (!started) {
        close(outPipe[0]);
        close(errPipe[0]);
        pid = -1;
        return false;
    }
    out = outPipe[0];
    err = errPipe[0];
    return true;
}

void ChildProcess::Signal(int signal) {
    if (pid > 0) {
        kill(pid, signal);
    }
}

ProgramResult ChildProcess::Finish(int timeoutMs) {
    ProgramResult result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd outputs[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    while (outputs[0].fd >= 0 || outputs[1].fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            Signal(SIGKILL); // the pipes end with it
            deadline += std::chrono::seconds(5);
        }
        if (poll(outputs, 2, int(std::max<long long>(left.count(), 1))) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (outputs[i].fd < 0 || outputs[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            ssize_t count = read(outputs[i].fd, chunk, sizeof chunk);
            if (count > 0) {
                texts[i]->append(chunk, size_t(count));
            } else if (count == 0 || errno != EINTR) {
                close(outputs[i].fd);
                outputs[i].fd = -1; // poll passes over negative descriptors
            }
        }
    }
    out = err = -1;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
    pid = -1;
    return result;
}

ProgramResult RunProgram(const std::vector<std::string>& arguments,
                         const std::string& standardOutput) {
    ChildProcess child;
    if (!child.Start(arguments, standardOutput)) {
        return ProgramResult();
    }
    return child.Finish();
}

std::string BuildFile(const std::string& name) {
    const char* directory = std::getenv("HOLLIN_BUILD_DIR");
    return std::string(directory != nullptr ? directory : ".") + "/" + name;
}

ProgramResult RunBuildProgram(const std::string& name, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), BuildFile(name));
    return RunProgram(arguments);
}

void ExpectCommonOptions(const std::string& name) {
    ProgramResult version = RunBuildProgram(name, {"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, name + " " + HOLLIN_VERSION + "\n");
    ProgramResult help = RunBuildProgram(name, {"-h"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.out.find("usage: " + name), 0u) << help.out;
    ProgramResult unknown = RunBuildProgram(name, {"--no-such-option"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_EQ(unknown.err, name + ": unknown option --no-such-option (see --help)\n");
}
