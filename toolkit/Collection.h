// A named collection of owned objects in 1-based slots, and its interface
// object (id 18).
#pragma once

#include "toolkit/NamedObject.h"

class Comparator;

// Slots are numbered from 1; a slot is empty (null) or holds an item the
// collection owns and deletes when it removes or overwrites it, or when it
// is destroyed. Emptied slots stay and are reused, lowest first, by Add.
// Names need not be unique: lookups by name take the first match.
//
// The slot array keeps hidden spare room, so that adding one item at a time
// is not quadratic; GetCount() is the number of slots all the same.
class Collection : public NamedObject {
public:
    explicit Collection(LPCSTR name = nullptr);
    // The name and a clone of every item, in order, without the empty slots.
    Collection(const Collection& other);
    Collection& operator=(const Collection&) = delete;

    ObjectInterface* GetInterface(LONG id) override;
    ~Collection() override;
    NamedObject* Clone() override;
    // An exchange sort over all slots, empty ones included; a null
    // comparator sorts by name. Returns 0.
    virtual LONG Sort(Comparator* comparator, LONG descending);

    // The slot the item went into (the lowest empty one, else a new last
    // one), or 0 for a null item or when the array cannot grow.
    LONG Add(NamedObject* item);
    LONG AddCopy(NamedInterface* itemInterface);
    // Delete the item and empty its slot; the index, or 0.
    LONG RemoveAt(LONG index);
    LONG RemoveByName(LPCSTR name);
    LONG RemoveItem(NamedObject* item);
    NamedObject* GetAt(LONG index) const;
    NamedObject* GetByName(LPCSTR name) const;
    // The first occupied slot whose item bears `name`, or 0.
    LONG IndexOf(LPCSTR name) const;
    LONG FirstFree() const { return firstFree; }
    LONG GetCount() const { return count; }
    // Store `item` (null empties the slot) and hand the previous item to the
    // caller undeleted; null and no change out of range.
    NamedObject* ReplaceAt(LONG index, NamedObject* item);
    NamedObject* ReplaceByName(LPCSTR name, NamedObject* item);
    NamedObject* ReplaceCopyAt(LONG index, NamedInterface* itemInterface);
    NamedObject* ReplaceCopyByName(LPCSTR name, NamedInterface* itemInterface);
    // Delete the previous item and store `item` (null empties the slot);
    // the index, or 0 out of range.
    LONG SetAt(LONG index, NamedObject* item);
    LONG SetByName(LPCSTR name, NamedObject* item);
    LONG SetCopyAt(LONG index, NamedInterface* itemInterface);
    LONG SetCopyByName(LPCSTR name, NamedInterface* itemInterface);
    // Drop the empty slots, keeping the order; the new count.
    LONG Compact();
    // 1 when both indices are in range and the slots were exchanged, else 0.
    LONG Swap(LONG index1, LONG index2);
    LONG SwapByName(LPCSTR name1, LPCSTR name2);

protected:
    // Add, deleting the item when it cannot be added, so that no item is
    // left without an owner; the slot, or 0. Inline, as every value a load
    // reads goes through it.
    LONG AddOwned(NamedObject* item) {
        LONG index = Add(item);
        if (index == 0) {
            delete item;
        }
        return index;
    }

private:
    bool InRange(LONG index) const { return index >= 1 && index <= count; }
    bool Grow();
    // Keep firstFree and emptyCount right after slot `index` changed from
    // `before` to `after`.
    void SlotChanged(LONG index, NamedObject* before, NamedObject* after);
    // The lowest empty slot at or above `from`, or 0.
    LONG LowestEmptyFrom(LONG from) const;

    LONG count = 0;
    LONG firstFree = 0;
    NamedObject** items = nullptr;
    // Hidden bookkeeping: slots allocated, and how many of the count are empty.
    LONG capacity = 0;
    LONG emptyCount = 0;
};

class CollectionInterface : public NamedInterface {
public:
    explicit CollectionInterface(Collection* object) : NamedInterface(object) {}

    virtual LONG AddCopy(NamedInterface* itemInterface);
    virtual LONG Add(NamedObject* item);
    virtual LONG RemoveItem(NamedObject* item);
    virtual LONG RemoveByName(LPCSTR name);
    virtual LONG RemoveAt(LONG index);
    virtual NamedObject* GetByName(LPCSTR name);
    virtual NamedObject* GetAt(LONG index);
    virtual LONG IndexOf(LPCSTR name);
    virtual LONG FirstFree();
    virtual LONG GetCount();
    virtual NamedObject* ReplaceCopyByName(LPCSTR name, NamedInterface* itemInterface);
    virtual NamedObject* ReplaceByName(LPCSTR name, NamedObject* item);
    virtual NamedObject* ReplaceCopyAt(LONG index, NamedInterface* itemInterface);
    virtual NamedObject* ReplaceAt(LONG index, NamedObject* item);
    virtual LONG SetCopyByName(LPCSTR name, NamedInterface* itemInterface);
    virtual LONG SetByName(LPCSTR name, NamedObject* item);
    virtual LONG SetCopyAt(LONG index, NamedInterface* itemInterface);
    virtual LONG SetAt(LONG index, NamedObject* item);
    virtual LONG Compact();
    virtual LONG SwapByName(LPCSTR name1, LPCSTR name2);
    virtual LONG Swap(LONG index1, LONG index2);
    virtual LONG Sort(Comparator* comparator, LONG descending);

private:
    Collection* Target() const { return static_cast<Collection*>(object); }
};
