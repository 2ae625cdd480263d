// Helpers of the native tests: files of the source tree, real paths and
// copies, over TempDir.h's folders and files. Inside a RegistryTest, whose
// own ReadText reads registry values, a file is read with ::ReadText.
#pragma once

#include "TempDir.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

inline std::string sourceFile(const std::string& name) {
    return ReadText(std::string(HOLLIN_SOURCE_DIR) + "/" + name);
}

inline std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

// Copies `from` to `to`, making the folders `to` needs; returns `to`.
inline std::string copyFile(const std::string& from, const std::string& to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    WriteBytes(to, ReadText(from));
    return to;
}

// The text inside "uuid(...)" of the attribute list in front of `declaration`.
inline std::string idlUuid(const std::string& idl, const std::string& declaration) {
    size_t at = idl.find(declaration);
    size_t uuid = idl.rfind("uuid(", at);
    if (at == std::string::npos || uuid == std::string::npos) {
        return "<none>";
    }
    return "{" + idl.substr(uuid + 5, 36) + "}";
}
