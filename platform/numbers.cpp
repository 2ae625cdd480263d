// Numbers from text: VarUI4FromStr, as the registry script reads its
// numbers.
//
// Divisions, in order:
//   - numbers: reading a text as an unsigned 32-bit number
//
// Where this differs from Windows, and why:
// - The text is always read in the neutral locale: ',' separates thousands
//   and '.' starts a fraction whatever locale is given, and the flags are
//   not read. The system passes the neutral locale and no flags, and a
//   locale's own separators would need its whole number format.
// - Currency signs, parentheses for negative numbers and a trailing sign,
//   which some locales allow, are not read (DISP_E_TYPEMISMATCH).
#include "platform/oleaut32.h"

#include "platform/chars.h"

#include <string>

// --- numbers -------------------------------------------------------------------------------------

namespace {

bool isDigit(OLECHAR c) {
    return c >= '0' && c <= '9';
}

int digitValue(OLECHAR c, int base) {
    int value = HexDigitValue(c);
    return value >= 0 && value < base ? value : -1;
}

// "&H..." or "&O...": digits of one base, no sign, no fraction.
HRESULT readPrefixedNumber(const OLECHAR*& p, ULONG& out) {
    int base = (p[1] == 'H' || p[1] == 'h') ? 16 : (p[1] == 'O' || p[1] == 'o') ? 8 : 0;
    if (base == 0 || digitValue(p[2], base) < 0) {
        return DISP_E_TYPEMISMATCH;
    }
    uint64_t value = 0;
    for (p += 2; digitValue(*p, base) >= 0; ++p) {
        value = value * unsigned(base) + unsigned(digitValue(*p, base));
        if (value > 0xFFFFFFFFull) {
            return DISP_E_OVERFLOW;
        }
    }
    out = ULONG(value);
    return S_OK;
}

// A decimal number: digits with thousands separators, a fraction, an
// exponent; rounded half to even.
HRESULT readDecimalNumber(const OLECHAR*& p, bool negative, ULONG& out) {
    std::string digits; // significant digits, without leading zeros
    long exponent = 0;  // value = digits x 10^exponent
    bool sawDigit = false;
    for (; isDigit(*p) || (*p == ',' && sawDigit); ++p) {
        if (isDigit(*p)) {
            sawDigit = true;
            if (!digits.empty() || *p != '0') {
                digits += char(*p);
            }
        }
    }
    if (*p == '.') {
        for (++p; isDigit(*p); ++p) {
            sawDigit = true;
            if (!digits.empty() || *p != '0') {
                digits += char(*p);
            }
            --exponent;
        }
    }
    if (!sawDigit) {
        return DISP_E_TYPEMISMATCH;
    }
    if ((*p == 'e' || *p == 'E') &&
        (isDigit(p[1]) || ((p[1] == '+' || p[1] == '-') && isDigit(p[2])))) {
        bool down = p[1] == '-';
        p += (p[1] == '+' || p[1] == '-') ? 2 : 1;
        long power = 0;
        for (; isDigit(*p); ++p) {
            power = power < 100000 ? power * 10 + (*p - '0') : power;
        }
        exponent += down ? -power : power;
    }
    long integerDigits = long(digits.size()) + exponent;
    if (digits.empty() || integerDigits < 0) {
        out = 0;
        return S_OK;
    }
    if (integerDigits > 10) {
        return DISP_E_OVERFLOW;
    }
    uint64_t value = 0;
    for (long i = 0; i < integerDigits; ++i) {
        value = value * 10 + (i < long(digits.size()) ? unsigned(digits[size_t(i)] - '0') : 0);
    }
    if (integerDigits < long(digits.size())) {
        char first = digits[size_t(integerDigits)];
        bool restNonZero =
            digits.find_first_not_of('0', size_t(integerDigits) + 1) != std::string::npos;
        if (first > '5' || (first == '5' && (restNonZero || value % 2 == 1))) {
            ++value;
        }
    }
    if (value > 0xFFFFFFFFull || (negative && value != 0)) {
        return DISP_E_OVERFLOW;
    }
    out = ULONG(value);
    return S_OK;
}

} // namespace

HRESULT VarUI4FromStr(OLECHAR* text, LCID, ULONG, ULONG* out) {
    if (text == nullptr || out == nullptr) {
        return E_INVALIDARG;
    }
    const OLECHAR* p = text;
    while (IsBlankOrLineBreak(*p)) {
        ++p;
    }
    ULONG value = 0;
    HRESULT result;
    if (*p == '&') {
        result = readPrefixedNumber(p, value);
    } else {
        bool negative = *p == '-';
        if (*p == '-' || *p == '+') {
            ++p;
        }
        result = readDecimalNumber(p, negative, value);
    }
    while (SUCCEEDED(result) && IsBlankOrLineBreak(*p)) {
        ++p;
    }
    if (SUCCEEDED(result) && *p != 0) {
        result = DISP_E_TYPEMISMATCH;
    }
    if (SUCCEEDED(result)) {
        *out = value;
    }
    return result;
}
