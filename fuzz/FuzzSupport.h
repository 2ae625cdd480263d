// What the fuzzers share: a property check that stops the run, and a
// temporary folder for those that work on files.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// A property that does not hold is a finding: abort, so that libFuzzer keeps
// the input.
inline void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// A fresh folder below TMPDIR (which scripts/fuzz.sh points at memory where
// it can, as these fuzzers write files on every run), removed at exit.
inline std::string makeTemporaryFolder(const char* name) {
    static std::string made;
    const char* root = std::getenv("TMPDIR");
    std::string pattern =
        std::string(root != nullptr && root[0] != '\0' ? root : "/tmp") + "/" + name + ".XXXXXX";
    require(mkdtemp(&pattern[0]) != nullptr);
    made = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(made, ignored);
    });
    return made;
}
