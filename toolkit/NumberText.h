// Numbers as the toolkit writes them into texts and reads them back.
//
// The text format is to be the same bytes from the Linux and the Windows
// build, so the formats are pinned down here rather than left to each
// caller: C99 output on both (two-digit exponents at the least, every digit
// of a fixed-point number), a NaN without a sign, 64-bit integers in plain
// decimal.
#pragma once

#include "platform/winapi.h"

namespace NumberText {

// Room for any number written by the functions below, with its NUL.
const int BufferSize = 64;

// "%d" / "%lld".
void FormatInt(LONG value, LPSTR buffer);
void FormatInt64(LONGLONG value, LPSTR buffer);
// "%f" of the float widened to double: six digits after the point.
void FormatFixed(float value, LPSTR buffer);
// "%G": six significant digits, an upper-case E in exponent form.
void FormatShortUpper(double value, LPSTR buffer);
// "%g": the same in lower case.
void FormatShort(double value, LPSTR buffer);

// The readers take a number at the start of the text (blanks first are
// skipped, anything after the number is ignored) and answer 1, or answer 0
// and leave *out alone when there is none or it does not fit.

// As "%i": an optional sign, then decimal, hexadecimal after "0x" or octal
// after a leading "0". Values up to 0xFFFFFFFF are taken as their low 32 bits,
// so a hexadecimal mask reads as written.
LONG ReadInt(LPCSTR text, LONG* out);
// As "%i" in 64 bits.
LONG ReadInt64(LPCSTR text, LONGLONG* out);
// Signed decimal only ("%d"), clamped to the type's range.
LONG ReadDecimal(LPCSTR text, LONG* out);
LONG ReadDecimal64(LPCSTR text, LONGLONG* out);
// A floating-point number ("%f", "%lG").
LONG ReadFloat(LPCSTR text, float* out);
LONG ReadDouble(LPCSTR text, double* out);
// A hexadecimal number ("%X"); the value's low 8 bits.
LONG ReadHexByte(LPCSTR text, BYTE* out);

// Truncation toward zero that is defined for every double: NaN gives 0 and
// values beyond the 64-bit range stop at its ends.
LONGLONG TruncateToInt64(double value);

} // namespace NumberText
