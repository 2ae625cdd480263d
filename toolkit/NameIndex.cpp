#include "toolkit/NameIndex.h"

#include <cstring>
#include <new>

namespace {

unsigned char foldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

} // namespace

NameIndex::NameIndex(const Collection& collection)
    : items(collection), cells(nullptr), cellCount(0), cellsUsed(0), others(nullptr), otherCount(0),
      otherCapacity(0), usable(true) {
    for (LONG slot = 1; slot <= items.GetCount() && usable; ++slot) {
        Added(slot);
    }
}

NameIndex::~NameIndex() {
    delete[] cells;
    delete[] others;
}

bool NameIndex::IsPlain(LPCSTR name) {
    for (auto* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        if (*p < 0x20 || *p > 0x7E || *p == '-' || *p == '\'') {
            return false;
        }
    }
    return true;
}

// FNV-1a over the case-folded name.
DWORD NameIndex::HashOf(LPCSTR name) {
    DWORD hash = 2166136261u;
    for (auto* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        hash = (hash ^ foldAscii(*p)) * 16777619u;
    }
    return hash;
}

bool NameIndex::Matches(LONG slot, LPCSTR name) const {
    NamedObject* item = items.GetAt(slot);
    return item != nullptr && item->NameEquals(name);
}

LONG NameIndex::Find(LPCSTR name) const {
    if (!usable) {
        return -1;
    }
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    if (!IsPlain(name)) {
        return -1;
    }
    LONG first = 0;
    auto consider = [&](LONG slot) {
        if ((first == 0 || slot < first) && Matches(slot, name)) {
            first = slot;
        }
    };
    if (cellCount != 0) {
        DWORD hash = HashOf(name);
        DWORD mask = cellCount - 1;
        for (DWORD i = hash & mask; cells[i].slot != 0; i = (i + 1) & mask) {
            if (cells[i].hash == hash) {
                consider(cells[i].slot);
            }
        }
    }
    for (LONG i = 0; i < otherCount; ++i) {
        consider(others[i]);
    }
    return first;
}

void NameIndex::Added(LONG slot) {
    NamedObject* item = items.GetAt(slot);
    LPCSTR name = item != nullptr ? item->GetName() : nullptr;
    if (!usable || name == nullptr) {
        return; // nameless items are never found by name
    }
    usable = IsPlain(name) ? Insert(HashOf(name), slot) : AddOther(slot);
}

bool NameIndex::Insert(DWORD hash, LONG slot) {
    // At most half the cells are used, so every probe meets a free cell.
    if ((cellsUsed + 1) * 2 > cellCount && !GrowCells()) {
        return false;
    }
    DWORD mask = cellCount - 1;
    DWORD i = hash & mask;
    while (cells[i].slot != 0) {
        i = (i + 1) & mask;
    }
    cells[i] = Cell{hash, slot};
    ++cellsUsed;
    return true;
}

bool NameIndex::GrowCells() {
    if (cellCount >= 0x08000000u) {
        return false; // the grown table's size in bytes would pass 2 GiB
    }
    DWORD grownCount = cellCount == 0 ? 64 : cellCount * 2;
    auto* grown = new (std::nothrow) Cell[grownCount];
    if (grown == nullptr) {
        return false;
    }
    std::memset(grown, 0, grownCount * sizeof(Cell));
    Cell* old = cells;
    DWORD oldCount = cellCount;
    cells = grown;
    cellCount = grownCount;
    cellsUsed = 0;
    for (DWORD i = 0; i < oldCount; ++i) {
        if (old[i].slot != 0) {
            Insert(old[i].hash, old[i].slot);
        }
    }
    delete[] old;
    return true;
}

bool NameIndex::AddOther(LONG slot) {
    if (otherCount == otherCapacity) {
        if (otherCapacity >= 0x10000000) {
            return false;
        }
        LONG grownCapacity = otherCapacity == 0 ? 16 : otherCapacity * 2;
        auto* grown = new (std::nothrow) LONG[size_t(grownCapacity)];
        if (grown == nullptr) {
            return false;
        }
        if (otherCount > 0) {
            std::memcpy(grown, others, size_t(otherCount) * sizeof(LONG));
        }
        delete[] others;
        others = grown;
        otherCapacity = grownCapacity;
    }
    others[otherCount++] = slot;
    return true;
}
