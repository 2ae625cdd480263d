#include "toolkit/NumberText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace NumberText {

namespace {

// glibc writes the sign of a NaN ("-nan"), mingw's C99 printf does not;
// neither sign means anything to a reader, so no NaN carries one.
bool writeNaN(double value, LPCSTR text, LPSTR buffer) {
    if (!std::isnan(value)) {
        return false;
    }
    std::snprintf(buffer, BufferSize, "%s", text);
    return true;
}

// strtoll with the checks it needs: some digits were read and the value fit.
bool parseLongLong(LPCSTR text, int base, LONGLONG* out, bool* outOfRange) {
    if (text == nullptr) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, base);
    if (end == text) {
        return false;
    }
    *outOfRange = errno == ERANGE;
    *out = value;
    return true;
}

} // namespace

void FormatInt(LONG value, LPSTR buffer) {
    std::snprintf(buffer, BufferSize, "%d", static_cast<int>(value));
}

void FormatInt64(LONGLONG value, LPSTR buffer) {
    std::snprintf(buffer, BufferSize, "%lld", static_cast<long long>(value));
}

void FormatFixed(float value, LPSTR buffer) {
    if (!writeNaN(value, "nan", buffer)) {
        std::snprintf(buffer, BufferSize, "%f", static_cast<double>(value));
    }
}

void FormatShortUpper(double value, LPSTR buffer) {
    if (!writeNaN(value, "NAN", buffer)) {
        std::snprintf(buffer, BufferSize, "%G", value);
    }
}

void FormatShort(double value, LPSTR buffer) {
    if (!writeNaN(value, "nan", buffer)) {
        std::snprintf(buffer, BufferSize, "%g", value);
    }
}

LONG ReadInt(LPCSTR text, LONG* out) {
    LONGLONG value = 0;
    if (!ReadInt64(text, &value) || value < -0x80000000LL || value > 0xFFFFFFFFLL) {
        return 0;
    }
    *out = static_cast<LONG>(static_cast<DWORD>(value));
    return 1;
}

LONG ReadInt64(LPCSTR text, LONGLONG* out) {
    LONGLONG value = 0;
    bool outOfRange = false;
    if (!parseLongLong(text, 0, &value, &outOfRange) || outOfRange) {
        return 0;
    }
    *out = value;
    return 1;
}

LONG ReadDecimal(LPCSTR text, LONG* out) {
    LONGLONG value = 0;
    bool outOfRange = false;
    if (!parseLongLong(text, 10, &value, &outOfRange)) {
        return 0;
    }
    if (value < -0x80000000LL) {
        value = -0x80000000LL;
    } else if (value > 0x7FFFFFFFLL) {
        value = 0x7FFFFFFFLL;
    }
    *out = static_cast<LONG>(value);
    return 1;
}

LONG ReadDecimal64(LPCSTR text, LONGLONG* out) {
    bool outOfRange = false; // strtoll has already clamped
    return parseLongLong(text, 10, out, &outOfRange) ? 1 : 0;
}

LONG ReadFloat(LPCSTR text, float* out) {
    float value = 0;
    if (text == nullptr || std::sscanf(text, "%f", &value) != 1) {
        return 0;
    }
    *out = value;
    return 1;
}

LONG ReadDouble(LPCSTR text, double* out) {
    double value = 0;
    if (text == nullptr || std::sscanf(text, "%lf", &value) != 1) {
        return 0;
    }
    *out = value;
    return 1;
}

LONG ReadHexByte(LPCSTR text, BYTE* out) {
    if (text == nullptr) {
        return 0;
    }
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 16);
    if (end == text) {
        return 0;
    }
    *out = static_cast<BYTE>(value & 0xFF);
    return 1;
}

LONGLONG TruncateToInt64(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    // 2^63 is exact in a double; everything below it in magnitude converts.
    const double limit = 9223372036854775808.0;
    if (value >= limit) {
        return 0x7FFFFFFFFFFFFFFFLL;
    }
    if (value < -limit) {
        return -0x7FFFFFFFFFFFFFFFLL - 1;
    }
    return static_cast<LONGLONG>(value);
}

} // namespace NumberText
