#include "toolkit/Collection.h"

#include "toolkit/NameComparator.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

// A slot holds a pointer to its item.
const size_t SlotSize = sizeof(NamedObject*); // NOLINT(bugprone-sizeof-expression)
// The most slots a collection may have: indices are signed 32-bit, and the
// array's size in bytes must not wrap.
const size_t MaxSlots = SIZE_MAX / SlotSize < 0x7FFFFFFF ? SIZE_MAX / SlotSize : size_t(0x7FFFFFFF);
const size_t FirstCapacity = 8;

// A clone of the object behind `itemInterface`, or null.
NamedObject* cloneOf(NamedInterface* itemInterface) {
    return itemInterface != nullptr ? itemInterface->Clone() : nullptr;
}

} // namespace

Collection::Collection(LPCSTR name) : NamedObject(name) {}

Collection::Collection(const Collection& other) : NamedObject(other) {
    for (LONG i = 0; i < other.count; ++i) {
        if (other.items[i] == nullptr) {
            continue;
        }
        AddOwned(other.items[i]->Clone());
    }
}

Collection::~Collection() {
    for (LONG i = 0; i < count; ++i) {
        delete items[i];
    }
    delete[] items;
}

ObjectInterface* Collection::GetInterface(LONG id) {
    if (id == CollectionInterfaceId) {
        return new (std::nothrow) CollectionInterface(this);
    }
    return NamedObject::GetInterface(id);
}

NamedObject* Collection::Clone() {
    return new (std::nothrow) Collection(*this);
}

bool Collection::Grow() {
    if (size_t(count) >= MaxSlots) {
        return false;
    }
    size_t wanted = capacity == 0 ? FirstCapacity : size_t(capacity) * 2;
    if (wanted > MaxSlots) {
        wanted = MaxSlots;
    }
    auto* grown = new (std::nothrow) NamedObject*[wanted];
    if (grown == nullptr) {
        return false;
    }
    if (count > 0) {
        std::memcpy(grown, items, size_t(count) * SlotSize);
    }
    delete[] items;
    items = grown;
    capacity = LONG(wanted);
    return true;
}

LONG Collection::LowestEmptyFrom(LONG from) const {
    if (emptyCount == 0) {
        return 0;
    }
    for (LONG i = from < 1 ? 1 : from; i <= count; ++i) {
        if (items[i - 1] == nullptr) {
            return i;
        }
    }
    return 0;
}

void Collection::SlotChanged(LONG index, NamedObject* before, NamedObject* after) {
    if ((before == nullptr) == (after == nullptr)) {
        return;
    }
    if (after == nullptr) {
        ++emptyCount;
        if (firstFree == 0 || index < firstFree) {
            firstFree = index;
        }
    } else {
        --emptyCount;
        if (index == firstFree) {
            firstFree = LowestEmptyFrom(index + 1);
        }
    }
}

LONG Collection::Add(NamedObject* item) {
    if (item == nullptr) {
        return 0;
    }
    if (firstFree != 0) {
        LONG index = firstFree;
        items[index - 1] = item;
        SlotChanged(index, nullptr, item);
        return index;
    }
    if (count == capacity && !Grow()) {
        return 0;
    }
    items[count++] = item;
    return count;
}

LONG Collection::AddCopy(NamedInterface* itemInterface) {
    return AddOwned(cloneOf(itemInterface));
}

LONG Collection::RemoveAt(LONG index) {
    if (!InRange(index) || items[index - 1] == nullptr) {
        return 0;
    }
    NamedObject* item = items[index - 1];
    items[index - 1] = nullptr;
    SlotChanged(index, item, nullptr);
    delete item;
    return index;
}

LONG Collection::RemoveByName(LPCSTR name) {
    return RemoveAt(IndexOf(name));
}

LONG Collection::RemoveItem(NamedObject* item) {
    if (item == nullptr) {
        return 0;
    }
    for (LONG i = 1; i <= count; ++i) {
        if (items[i - 1] == item) {
            return RemoveAt(i);
        }
    }
    return 0;
}

NamedObject* Collection::GetAt(LONG index) const {
    return InRange(index) ? items[index - 1] : nullptr;
}

NamedObject* Collection::GetByName(LPCSTR name) const {
    return GetAt(IndexOf(name));
}

LONG Collection::IndexOf(LPCSTR name) const {
    if (name == nullptr || name[0] == '\0') {
        return 0; // no item has an empty name
    }
    for (LONG i = 1; i <= count; ++i) {
        if (items[i - 1] != nullptr && items[i - 1]->NameEquals(name)) {
            return i;
        }
    }
    return 0;
}

NamedObject* Collection::ReplaceAt(LONG index, NamedObject* item) {
    if (!InRange(index)) {
        return nullptr;
    }
    NamedObject* previous = items[index - 1];
    items[index - 1] = item;
    SlotChanged(index, previous, item);
    return previous;
}

NamedObject* Collection::ReplaceByName(LPCSTR name, NamedObject* item) {
    return ReplaceAt(IndexOf(name), item);
}

// The copy forms clone only when the slot exists, and refuse a failed
// clone, so that no copy is left without an owner and no slot is emptied
// by accident.
NamedObject* Collection::ReplaceCopyAt(LONG index, NamedInterface* itemInterface) {
    if (!InRange(index)) {
        return nullptr;
    }
    NamedObject* copy = cloneOf(itemInterface);
    return copy != nullptr ? ReplaceAt(index, copy) : nullptr;
}

NamedObject* Collection::ReplaceCopyByName(LPCSTR name, NamedInterface* itemInterface) {
    return ReplaceCopyAt(IndexOf(name), itemInterface);
}

LONG Collection::SetAt(LONG index, NamedObject* item) {
    if (!InRange(index)) {
        return 0;
    }
    NamedObject* previous = ReplaceAt(index, item);
    // Storing the item a slot already holds must not delete it.
    if (previous != item) {
        delete previous;
    }
    return index;
}

LONG Collection::SetByName(LPCSTR name, NamedObject* item) {
    return SetAt(IndexOf(name), item);
}

LONG Collection::SetCopyAt(LONG index, NamedInterface* itemInterface) {
    if (!InRange(index)) {
        return 0;
    }
    NamedObject* copy = cloneOf(itemInterface);
    return copy != nullptr ? SetAt(index, copy) : 0;
}

LONG Collection::SetCopyByName(LPCSTR name, NamedInterface* itemInterface) {
    return SetCopyAt(IndexOf(name), itemInterface);
}

LONG Collection::Compact() {
    LONG kept = 0;
    for (LONG i = 0; i < count; ++i) {
        if (items[i] != nullptr) {
            items[kept++] = items[i];
        }
    }
    count = kept;
    firstFree = 0;
    emptyCount = 0;
    if (count == 0) {
        delete[] items;
        items = nullptr;
        capacity = 0;
    }
    return count;
}

LONG Collection::Swap(LONG index1, LONG index2) {
    if (!InRange(index1) || !InRange(index2)) {
        return 0;
    }
    NamedObject* first = items[index1 - 1];
    NamedObject* second = items[index2 - 1];
    items[index1 - 1] = second;
    items[index2 - 1] = first;
    // When one of the two was empty, one change fills a slot and the other
    // empties one: emptyCount comes out as it was, firstFree on the lowest.
    SlotChanged(index1, first, second);
    SlotChanged(index2, second, first);
    return 1;
}

LONG Collection::SwapByName(LPCSTR name1, LPCSTR name2) {
    return Swap(IndexOf(name1), IndexOf(name2));
}

LONG Collection::Sort(Comparator* comparator, LONG descending) {
    NameComparator byName;
    if (comparator == nullptr) {
        comparator = &byName;
    }
    for (LONG i = 1; i < count; ++i) {
        for (LONG j = i; j <= count; ++j) {
            NamedObject* a = items[j - 1];
            NamedObject* b = items[i - 1];
            bool exchange = descending == 0 ? comparator->LessOrEqual(a, b) != 0
                                            : comparator->GreaterOrEqual(a, b) != 0;
            if (exchange) {
                Swap(i, j);
            }
        }
    }
    return 0;
}

LONG CollectionInterface::AddCopy(NamedInterface* itemInterface) {
    return Target()->AddCopy(itemInterface);
}

LONG CollectionInterface::Add(NamedObject* item) {
    return Target()->Add(item);
}

LONG CollectionInterface::RemoveItem(NamedObject* item) {
    return Target()->RemoveItem(item);
}

LONG CollectionInterface::RemoveByName(LPCSTR name) {
    return Target()->RemoveByName(name);
}

LONG CollectionInterface::RemoveAt(LONG index) {
    return Target()->RemoveAt(index);
}

NamedObject* CollectionInterface::GetByName(LPCSTR name) {
    return Target()->GetByName(name);
}

NamedObject* CollectionInterface::GetAt(LONG index) {
    return Target()->GetAt(index);
}

LONG CollectionInterface::IndexOf(LPCSTR name) {
    return Target()->IndexOf(name);
}

LONG CollectionInterface::FirstFree() {
    return Target()->FirstFree();
}

LONG CollectionInterface::GetCount() {
    return Target()->GetCount();
}

NamedObject* CollectionInterface::ReplaceCopyByName(LPCSTR name, NamedInterface* itemInterface) {
    return Target()->ReplaceCopyByName(name, itemInterface);
}

NamedObject* CollectionInterface::ReplaceByName(LPCSTR name, NamedObject* item) {
    return Target()->ReplaceByName(name, item);
}

NamedObject* CollectionInterface::ReplaceCopyAt(LONG index, NamedInterface* itemInterface) {
    return Target()->ReplaceCopyAt(index, itemInterface);
}

NamedObject* CollectionInterface::ReplaceAt(LONG index, NamedObject* item) {
    return Target()->ReplaceAt(index, item);
}

LONG CollectionInterface::SetCopyByName(LPCSTR name, NamedInterface* itemInterface) {
    return Target()->SetCopyByName(name, itemInterface);
}

LONG CollectionInterface::SetByName(LPCSTR name, NamedObject* item) {
    return Target()->SetByName(name, item);
}

LONG CollectionInterface::SetCopyAt(LONG index, NamedInterface* itemInterface) {
    return Target()->SetCopyAt(index, itemInterface);
}

LONG CollectionInterface::SetAt(LONG index, NamedObject* item) {
    return Target()->SetAt(index, item);
}

LONG CollectionInterface::Compact() {
    return Target()->Compact();
}

LONG CollectionInterface::SwapByName(LPCSTR name1, LPCSTR name2) {
    return Target()->SwapByName(name1, name2);
}

LONG CollectionInterface::Swap(LONG index1, LONG index2) {
    return Target()->Swap(index1, index2);
}

LONG CollectionInterface::Sort(Comparator* comparator, LONG descending) {
    return Target()->Sort(comparator, descending);
}
