// The heap ANSI string of the whois request, with the search and split
// operations the URL parser is written in.
#pragma once

#include "support/RefObject.h"

// Two empty states exist and are kept apart: no storage (GetText gives null)
// and stored empty text (GetText gives ""). Allocation failures set the error
// flag instead of throwing; a string with the flag set behaves as empty.
// Texts handed over with Attach, and those returned by WideToAnsi, are
// allocated with new[] and freed with delete[].
class TextString : public RefObject {
public:
    TextString();
    explicit TextString(LPCSTR text);
    explicit TextString(BYTE errorFlag);
    TextString(const TextString&) = delete;
    TextString& operator=(const TextString&) = delete;

    ~TextString() override;
    virtual LONG Init(LPCSTR text);
    // Copies the text with its NUL; `size` 0 means no limit. Null when the
    // buffer is null or too small.
    virtual LPSTR CopyTo(LPSTR buffer, LONG size) const;
    virtual LONG IsValid() const;
    virtual LONG GetLength() const;

    LONG IsEmpty() const;
    LPCSTR GetText() const;
    TextString& Assign(LPCSTR text);
    TextString& AssignWide(LPCWSTR wideText);
    TextString& Attach(LPSTR heapText);
    void SetError(BYTE flag) { errorFlag = flag; }

    // Searches answer the zero-based position, or -1.
    LONG Find(char ch) const;
    LONG Find(LPCSTR pattern, LONG from) const;

    // New strings, owned by the caller; null only when the object itself
    // cannot be allocated.
    TextString* Mid(LONG start, LONG count) const;
    TextString* Left(LONG count) const;
    TextString* LeftOf(const TextString& separator) const;
    TextString* LeftOf(LPCSTR separator) const;
    TextString* RightOf(const TextString& separator) const;
    TextString* RightOf(LPCSTR separator) const;

    TextString& Replace(LPCSTR text, LONG start, LONG count);
    TextString& Erase(LONG start, LONG count);
    void SetPosition(LONG pos) { position = pos; }
    LONG GetPosition() const;
    TextString& EraseBeforePosition(LONG count);

    // The decimal number the text begins with ("%u"), or 0.
    DWORD ToUnsigned() const;

private:
    LPSTR text;
    BYTE errorFlag;
    LONG position;
};

// First position in from..last (inclusive) at which `pattern` occurs in
// `text`, or -1.
LONG FindBytes(LPCSTR text, LPCSTR pattern, LONG from, LONG last);

// A new[] copy of `text` with its NUL; null when `text` is null, longer
// than a signed 32-bit length allows, or the copy cannot be allocated.
LPSTR CopyText(LPCSTR text);

// The wide text converted to the given code page at one byte per character,
// in a new[] buffer the caller frees; null when the conversion fails.
LPSTR WideToAnsi(UINT codePage, LPCWSTR wideText);
