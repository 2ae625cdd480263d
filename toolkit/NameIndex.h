// A lookup aid for reading a file into a folder: finds an item by name
// without scanning every slot, so that reading n records is not quadratic.
#pragma once

#include "toolkit/Collection.h"

// Built over a collection at the start of a read and told of every item the
// read adds; it must not outlive a change it is not told of.
//
// Names are compared with lstrcmpiA, which on Windows is linguistic: there
// "ß" may equal "ss" and "æ" equal "ae", and hyphens and apostrophes sort
// specially. For texts made only of the other printable ASCII characters it
// agrees with a plain ASCII case fold, so only those names are hashed (by
// that fold); items with other names are kept on a short list that every
// lookup checks, and a lookup of such a name answers "cannot tell". Every
// candidate is confirmed with lstrcmpiA itself.
class NameIndex {
public:
    explicit NameIndex(const Collection& items);
    ~NameIndex();
    NameIndex(const NameIndex&) = delete;
    NameIndex& operator=(const NameIndex&) = delete;

    // The first slot whose item bears `name` (0 when none, and for a null or
    // empty name), or -1 when the index cannot tell and the caller must scan.
    LONG Find(LPCSTR name) const;
    // The item now in `slot` was added.
    void Added(LONG slot);

private:
    struct Cell {
        DWORD hash;
        LONG slot; // 0: a free cell
    };

    static bool IsPlain(LPCSTR name);
    static DWORD HashOf(LPCSTR name);
    bool Matches(LONG slot, LPCSTR name) const;
    bool Insert(DWORD hash, LONG slot);
    bool GrowCells();
    bool AddOther(LONG slot);

    const Collection& items;
    Cell* cells;
    DWORD cellCount; // a power of two, or 0
    DWORD cellsUsed;
    LONG* others;
    LONG otherCount;
    LONG otherCapacity;
    // Cleared when memory ran out: from then on every lookup is a scan.
    bool usable;
};
