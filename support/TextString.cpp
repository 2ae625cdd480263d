#include "support/TextString.h"

#include <climits>
#include <cstring>
#include <new>

namespace {

// Lengths are kept within a signed 32-bit count, so that every position and
// length + 1 computed from one fits.
const size_t MaxTextLength = size_t(INT_MAX) - 1;

// A new[] copy of `length` bytes of `source` and a NUL, or null.
LPSTR copyText(LPCSTR source, size_t length) {
    if (length > MaxTextLength) {
        return nullptr;
    }
    auto* copy = new (std::nothrow) char[length + 1];
    if (copy != nullptr) {
        std::memcpy(copy, source, length);
        copy[length] = '\0';
    }
    return copy;
}

} // namespace

LPSTR CopyText(LPCSTR text) {
    return text != nullptr ? copyText(text, std::strlen(text)) : nullptr;
}

TextString::TextString() : text(nullptr), errorFlag(0), position(0) {
    Init(nullptr);
}

TextString::TextString(LPCSTR initial) : text(nullptr), errorFlag(0), position(0) {
    if (Init(initial) == 0) {
        errorFlag = 1;
    }
}

TextString::TextString(BYTE flag) : text(nullptr), errorFlag(0), position(0) {
    Init(nullptr);
    errorFlag = flag;
}

TextString::~TextString() {
    delete[] text;
}

LONG TextString::Init(LPCSTR initial) {
    position = 0;
    errorFlag = 0;
    if (initial == nullptr) {
        return 1;
    }
    text = CopyText(initial);
    return text != nullptr ? 1 : 0;
}

LPSTR TextString::CopyTo(LPSTR buffer, LONG size) const {
    if (buffer == nullptr || (size != 0 && size < GetLength() + 1)) {
        return nullptr;
    }
    if (IsEmpty()) {
        buffer[0] = '\0';
    } else {
        std::memcpy(buffer, text, size_t(GetLength()) + 1);
    }
    return buffer;
}

LONG TextString::IsValid() const {
    return errorFlag == 0 ? 1 : 0;
}

LONG TextString::GetLength() const {
    if (!IsValid() || text == nullptr) {
        return 0;
    }
    return LONG(std::strlen(text));
}

LONG TextString::IsEmpty() const {
    return (text == nullptr || !IsValid() || GetLength() == 0) ? 1 : 0;
}

LPCSTR TextString::GetText() const {
    return IsValid() ? text : nullptr;
}

TextString& TextString::Assign(LPCSTR source) {
    // The copy is made before the old storage goes, so that assigning a
    // string its own text (or a part of it) is harmless.
    LPSTR copy = CopyText(source);
    delete[] text;
    text = nullptr;
    if (source == nullptr) {
        return *this;
    }
    if (copy == nullptr) {
        errorFlag = 1;
        return *this;
    }
    errorFlag = 0;
    text = copy;
    return *this;
}

TextString& TextString::AssignWide(LPCWSTR wideText) {
    LPSTR converted = WideToAnsi(CP_ACP, wideText);
    if (converted != nullptr) {
        Assign(converted);
        delete[] converted;
    }
    return *this;
}

TextString& TextString::Attach(LPSTR heapText) {
    if (heapText != text) {
        delete[] text;
    }
    text = heapText;
    return *this;
}

LONG TextString::Find(char ch) const {
    LONG length = GetLength();
    if (length <= 0) {
        return -1;
    }
    for (LONG i = 0; i < length; ++i) {
        if (text[i] == ch) {
            return i;
        }
    }
    return -1;
}

LONG TextString::Find(LPCSTR pattern, LONG from) const {
    size_t patternLength = pattern != nullptr ? std::strlen(pattern) : 0;
    LONG length = GetLength();
    if (from < 0 || patternLength > size_t(length) || IsEmpty()) {
        return -1;
    }
    LONG last = length - LONG(patternLength);
    if (from > last) {
        return -1;
    }
    return FindBytes(text, pattern != nullptr ? pattern : "", from, last);
}

LONG FindBytes(LPCSTR text, LPCSTR pattern, LONG from, LONG last) {
    if (text == nullptr || pattern == nullptr || from < 0) {
        return -1;
    }
    for (LONG i = from; i <= last; ++i) {
        LONG k = 0;
        while (pattern[k] != '\0' && text[i + k] == pattern[k]) {
            ++k;
        }
        if (pattern[k] == '\0') {
            return i;
        }
    }
    return -1;
}

TextString* TextString::Mid(LONG start, LONG count) const {
    LONG length = GetLength();
    if (start < 0) {
        start += length;
    }
    if (start >= length) {
        return new (std::nothrow) TextString("");
    }
    if (start < 0) {
        start = 0;
    }
    if (count > length - start) {
        count = length - start;
    }
    if (count < 0) {
        count = 0;
    }
    LPSTR piece = copyText(text + start, size_t(count));
    if (piece == nullptr) {
        return new (std::nothrow) TextString(BYTE(1));
    }
    auto* result = new (std::nothrow) TextString();
    if (result == nullptr) {
        delete[] piece;
        return nullptr;
    }
    result->Attach(piece);
    return result;
}

TextString* TextString::Left(LONG count) const {
    return Mid(0, count);
}

TextString* TextString::LeftOf(LPCSTR separator) const {
    TextString wrapped(separator);
    return LeftOf(wrapped);
}

TextString* TextString::LeftOf(const TextString& separator) const {
    LONG found = Find(separator.GetText(), 0);
    if (found < 0) {
        return new (std::nothrow) TextString();
    }
    return Left(found);
}

TextString* TextString::RightOf(LPCSTR separator) const {
    TextString wrapped(separator);
    return RightOf(wrapped);
}

TextString* TextString::RightOf(const TextString& separator) const {
    LONG found = Find(separator.GetText(), 0);
    if (found < 0) {
        return new (std::nothrow) TextString();
    }
    return Mid(found + separator.GetLength(), GetLength());
}

TextString& TextString::Replace(LPCSTR insert, LONG start, LONG count) {
    LONG length = GetLength();
    if (start < 0 || start >= length) {
        return *this;
    }
    if (insert == nullptr) {
        insert = "";
    }
    if (count < 0) {
        count = 0;
    }
    // start + count may pass the 32-bit range: compare without adding.
    LONG end = count > length - start ? length : start + count;
    size_t insertLength = std::strlen(insert);
    size_t newLength = size_t(length) - size_t(end - start);
    if (insertLength > MaxTextLength - newLength) {
        errorFlag = 1;
        return *this;
    }
    newLength += insertLength;
    auto* edited = new (std::nothrow) char[newLength + 1];
    if (edited == nullptr) {
        errorFlag = 1;
        return *this;
    }
    std::memcpy(edited, text, size_t(start));
    std::memcpy(edited + start, insert, insertLength);
    std::memcpy(edited + start + insertLength, text + end, size_t(length - end) + 1);
    Attach(edited);
    return *this;
}

TextString& TextString::Erase(LONG start, LONG count) {
    return Replace("", start, count);
}

LONG TextString::GetPosition() const {
    LONG length = GetLength();
    if (position < 0) {
        return 0;
    }
    return position >= length ? length : position;
}

TextString& TextString::EraseBeforePosition(LONG count) {
    LONG start = GetPosition() - count;
    if (start < 0 || count < 0) {
        start = 0;
    }
    return Erase(start, count);
}

DWORD TextString::ToUnsigned() const {
    // As sscanf's %u reads it (blanks, a sign, digits, taken modulo 2^32),
    // without the weight of the scanf machinery on every URL parsed.
    if (text == nullptr) {
        return 0;
    }
    const char* at = text;
    while (*at == ' ' || (*at >= '\t' && *at <= '\r')) {
        ++at;
    }
    bool negative = *at == '-';
    if (*at == '-' || *at == '+') {
        ++at;
    }
    if (*at < '0' || *at > '9') {
        return 0;
    }
    DWORD value = 0;
    for (; *at >= '0' && *at <= '9'; ++at) {
        value = value * 10 + DWORD(*at - '0');
    }
    return negative ? 0u - value : value;
}

LPSTR WideToAnsi(UINT codePage, LPCWSTR wideText) {
    if (wideText == nullptr) {
        return nullptr;
    }
    size_t count = 0;
    while (wideText[count] != 0) {
        ++count;
    }
    if (count > MaxTextLength) {
        return nullptr;
    }
    auto* converted = new (std::nothrow) char[count + 1];
    if (converted == nullptr) {
        return nullptr;
    }
    if (WideCharToMultiByte(codePage, 0, wideText, -1, converted, int(count + 1), nullptr,
                            nullptr) == 0) {
        delete[] converted;
        return nullptr;
    }
    return converted;
}
