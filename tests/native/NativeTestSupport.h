// Helpers of the native tests: files and temporary folders.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

inline std::string sourceFile(const std::string& name) {
    return readFile(std::string(HOLLIN_SOURCE_DIR) + "/" + name);
}

inline std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

inline std::string copyFile(const std::string& from, const std::string& to) {
    writeFile(to, readFile(from));
    return to;
}

// A folder of its own for the test, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder() {
        char folder[] = "/tmp/hollin-native-XXXXXX";
        if (mkdtemp(folder) != nullptr) {
            path = folder;
        }
    }
    ~TemporaryFolder() {
        std::string remove = "rm -rf '" + path + "'";
        if (!path.empty() && system(remove.c_str()) != 0) {
            ADD_FAILURE() << "could not remove " << path;
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::string File(const std::string& name) const { return path + "/" + name; }

    std::string path;
};
