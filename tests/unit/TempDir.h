// A directory of its own for a test's files, removed with everything in it
// when the test ends (a removal that fails fails the test). It lives in the
// platform's temporary directory, so it works under Wine too.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

class TempDir {
public:
    TempDir() {
        auto base = std::filesystem::temp_directory_path();
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
            auto candidate =
                base / ("hollin-test-" + std::to_string(stamp) + "-" + std::to_string(attempt));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                dir = candidate;
            }
        }
    }
    ~TempDir() {
        std::error_code error;
        if (!dir.empty()) {
            std::filesystem::remove_all(dir, error);
        }
        EXPECT_FALSE(error) << "could not remove " << dir.string();
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool Exists() const { return !dir.empty(); }
    // The path of a file in the directory.
    std::string Path(const std::string& fileName) const { return (dir / fileName).string(); }

private:
    std::filesystem::path dir;
};

// A file's text, read in text mode (so CR LF reads as LF on Windows).
inline std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes `bytes` exactly as given.
inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}
