// What the command lines of hollin's programs share: getopt_long's error
// cases turned into one message and exit status 2, --version, numbers read
// whole, and paths made absolute. Header-only: the Windows host and the test
// whois server use it too.
#pragma once

#include <getopt.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#ifndef HOLLIN_VERSION
#error "HOLLIN_VERSION is the project's version, defined by the build"
#endif

namespace commandline {

const int BadUsage = 2;

// getopt_long with its own messages off: a leading ':' tells a missing value
// (':') from an unknown option ('?'), and reportBadOption says which.
inline int NextOption(int argc, char** argv, const char* shortOptions, const option* longOptions) {
    opterr = 0;
    std::string withColon = std::string(":") + shortOptions;
    return getopt_long(argc, argv, withColon.c_str(), longOptions, nullptr);
}

inline int UsageError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s (see --help)\n", program, message.c_str());
    return BadUsage;
}

// The message for the ':' or '?' that nextOption returned; exit status 2.
inline int ReportBadOption(const char* program, int result, char** argv,
                           const option* longOptions) {
    std::string last = optind > 0 ? argv[optind - 1] : "";
    bool longForm = last.compare(0, 2, "--") == 0 || optopt == 0 || optopt > 255;
    std::string name = longForm ? last.substr(0, last.find('=')) : std::string("-") + char(optopt);
    if (result == ':') {
        return UsageError(program, name + " needs a value");
    }
    for (const option* known = longOptions; longForm && known->name != nullptr; ++known) {
        if (name == std::string("--") + known->name && known->has_arg == no_argument) {
            return UsageError(program, name + " takes no value");
        }
    }
    return UsageError(program, "unknown option " + name);
}

inline int PrintVersion(const char* program) {
    std::printf("%s %s\n", program, HOLLIN_VERSION);
    return 0;
}

// A whole decimal number from low to high, nothing before or after it.
inline bool ReadNumber(const char* text, long low, long high, long& value) {
    const char* end = text + std::strlen(text);
    long number = 0;
    auto [stop, error] = std::from_chars(text, end, number);
    if (error != std::errc() || stop != end || text == end || number < low || number > high) {
        return false;
    }
    value = number;
    return true;
}

// `path` made absolute against the current folder (not resolved); unchanged
// when the current folder cannot be known.
inline std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

} // namespace commandline
