// A stack of short, non-empty texts kept back to back in one heap block.
#pragma once

#include "platform/winapi.h"

// Layout of the block: each entry with its NUL, in push order, then one more
// NUL that closes the list. A NUL at offset 0 always means an empty list.
// Bytes behind the closing NUL may hold remains of popped entries.
class StringStack {
public:
    StringStack();
    ~StringStack();
    StringStack(const StringStack&) = delete;
    StringStack& operator=(const StringStack&) = delete;

    // Back to a fresh 260-byte block with an empty list.
    void Reset();
    // Pushes a non-empty text; a null or empty text, or one the block cannot
    // grow for, is refused and leaves the stack as it was.
    StringStack& Push(LPCSTR text);
    // Copies the top entry into `out` (when not null; it must have room for
    // the entry) and removes it. On an empty stack `out` receives an empty
    // text and nothing else happens.
    StringStack& Pop(LPSTR out);
    // The entry at `index` (0 is the oldest), or null.
    LPCSTR GetItem(LONG index) const;
    LONG GetCount() const { return count; }
    // Recomputes the count from the block; returns the bytes in use,
    // the closing NUL included.
    LONG Recount();

    DWORD GetBlockSize() const { return size; }
    const BYTE* GetBlock() const { return block; }

private:
    static const DWORD InitialSize = 260;
    // Offset at which the next entry goes: that of the closing NUL.
    DWORD EndOffset() const;

    BYTE* block;
    DWORD size;
    LONG count;
};
