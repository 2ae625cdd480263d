#include "support/StringStack.h"

#include <cstring>
#include <new>

namespace {
const char EmptyText[] = "";

// A fresh block: empty list (NUL at offsets 0 and 1).
BYTE* newBlock(DWORD size) {
    auto* block = new (std::nothrow) BYTE[size];
    if (block != nullptr) {
        std::memset(block, 0, size);
    }
    return block;
}
} // namespace

StringStack::StringStack()
    : block(newBlock(InitialSize)), size(block ? InitialSize : 0), count(0) {}

StringStack::~StringStack() {
    delete[] block;
}

void StringStack::Reset() {
    delete[] block;
    block = newBlock(InitialSize);
    size = block ? InitialSize : 0;
    count = 0;
}

DWORD StringStack::EndOffset() const {
    if (block == nullptr || size < 2 || block[0] == 0) {
        return 0;
    }
    for (DWORD i = 1; i + 1 < size; ++i) {
        if (block[i] == 0 && block[i + 1] == 0) {
            return i + 1;
        }
    }
    return size - 1; // no closing pair: a damaged block; write over its last byte
}

StringStack& StringStack::Push(LPCSTR text) {
    if (text == nullptr || text[0] == '\0') {
        return *this;
    }
    size_t length = std::strlen(text);
    DWORD offset = EndOffset();
    // Room for the text, its NUL and the closing NUL; checked before it is
    // added up so that the 32-bit size cannot wrap.
    if (length > size_t(0xFFFFFFFFu) - 2 - offset) {
        return *this;
    }
    DWORD needed = DWORD(offset + length + 2);
    if (needed > size || block == nullptr) {
        auto* grown = new (std::nothrow) BYTE[needed];
        if (grown == nullptr) {
            return *this;
        }
        std::memset(grown, 0, needed);
        if (block != nullptr) {
            std::memcpy(grown, block, size);
        }
        delete[] block;
        block = grown;
        size = needed;
    }
    std::memcpy(block + offset, text, length + 1);
    block[offset + length + 1] = 0;
    ++count;
    return *this;
}

StringStack& StringStack::Pop(LPSTR out) {
    if (count <= 0) {
        if (out != nullptr) {
            out[0] = '\0';
        }
        return *this;
    }
    auto* top = const_cast<char*>(GetItem(count - 1));
    if (top == nullptr) {
        return *this;
    }
    if (out != nullptr) {
        std::strcpy(out, top);
    }
    top[0] = '\0';
    --count;
    return *this;
}

LPCSTR StringStack::GetItem(LONG index) const {
    if (index < 0) {
        return nullptr;
    }
    if (block == nullptr) {
        return index == 0 ? EmptyText : nullptr;
    }
    if (index == 0) {
        return reinterpret_cast<LPCSTR>(block);
    }
    LONG boundaries = 0;
    for (DWORD i = 0; i + 1 < size; ++i) {
        if (block[i] != 0) {
            continue;
        }
        if (block[i + 1] == 0) {
            return nullptr;
        }
        if (++boundaries == index) {
            return reinterpret_cast<LPCSTR>(block + i + 1);
        }
    }
    return nullptr;
}

LONG StringStack::Recount() {
    count = 0;
    if (block == nullptr || size < 2 || block[0] == 0) {
        return 2;
    }
    for (DWORD i = 1; i < size; ++i) {
        if (block[i] != 0) {
            continue;
        }
        ++count;
        if (i + 1 >= size) {
            return LONG(size); // no closing NUL inside the block
        }
        if (block[i + 1] == 0) {
            return LONG(i + 2);
        }
    }
    return LONG(size);
}
