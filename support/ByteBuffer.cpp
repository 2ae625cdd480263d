#include "support/ByteBuffer.h"

#include <cassert>
#include <cstring>
#include <new>

ByteBuffer::ByteBuffer() : data(nullptr) {
    SetLimits(0, 0);
}

ByteBuffer::ByteBuffer(DWORD maxSizeLimit) : data(nullptr) {
    SetLimits(maxSizeLimit, 0);
}

ByteBuffer::~ByteBuffer() {
    delete[] data;
}

void ByteBuffer::Reset(DWORD maxSizeLimit, DWORD growthStep) {
    delete[] data;
    data = nullptr;
    SetLimits(maxSizeLimit, growthStep);
}

void ByteBuffer::SetLimits(DWORD maxSizeLimit, DWORD growthStep) {
    step = growthStep > DefaultStep ? growthStep : DefaultStep;
    maxSize = maxSizeLimit > step ? maxSizeLimit : step;
    data = new (std::nothrow) BYTE[step];
    // Without a first block the buffer is empty with no room; the first
    // append grows it like any other.
    capacity = data != nullptr ? step : 0;
    length = 0;
}

DWORD ByteBuffer::GrownCapacity(DWORD need) const {
    if (capacity == maxSize) {
        return 0;
    }
    // Worked in 64 bits: a huge shortfall must not wrap into a small size.
    unsigned long long grown =
        (unsigned long long)capacity + (unsigned long long)step * (need / step + 1ull);
    return grown > maxSize ? 0 : DWORD(grown);
}

bool ByteBuffer::Grow(DWORD need) {
    DWORD grown = GrownCapacity(need);
    if (grown == 0) {
        return false;
    }
    assert(grown > capacity && grown - capacity >= need);
    auto* block = new (std::nothrow) BYTE[grown];
    if (block == nullptr) {
        return false;
    }
    if (length != 0) {
        std::memcpy(block, data, length);
    }
    delete[] data;
    data = block;
    capacity = grown;
    return true;
}

bool ByteBuffer::CanAppend(DWORD count) const {
    DWORD room = capacity - length;
    return count <= room || GrownCapacity(count - room) != 0;
}

bool ByteBuffer::Reserve(DWORD total) {
    return total <= capacity || Grow(total - capacity);
}

DWORD ByteBuffer::Append(const void* bytes, DWORD count) {
    if (count == 0 || bytes == nullptr) {
        return 0;
    }
    DWORD room = capacity - length;
    if (room < count && !Grow(count - room)) {
        return 0;
    }
    std::memcpy(data + length, bytes, count);
    length += count;
    assert(length <= capacity && capacity <= maxSize);
    return count;
}

DWORD ByteBuffer::AppendText(LPCSTR text) {
    if (text == nullptr) {
        return 0;
    }
    size_t size = std::strlen(text);
    if (size > 0xFFFFFFFFu) {
        return 0;
    }
    return Append(text, DWORD(size));
}

DWORD ByteBuffer::AppendLine(LPCSTR text) {
    DWORD written = AppendText(text);
    if (written == 0) {
        return 0;
    }
    if (Append("\n", 1) == 0) {
        return 0;
    }
    return written + 1;
}

DWORD ByteBuffer::Read(void* out, DWORD count) {
    DWORD taken = count < length ? count : length;
    if (taken == 0 || out == nullptr) {
        return 0;
    }
    std::memcpy(out, data, taken);
    return Consume(taken);
}

DWORD ByteBuffer::Consume(DWORD count) {
    DWORD taken = count < length ? count : length;
    if (taken == 0) {
        return 0;
    }
    std::memmove(data, data + taken, length - taken);
    length -= taken;
    return taken;
}

LONG ByteBuffer::MoveTo(ByteBuffer* target) {
    if (target == nullptr || target == this) {
        return 0; // draining into itself would never end
    }
    BYTE chunk[MoveChunkSize];
    LONG moved = 0;
    for (DWORD got; (got = Read(chunk, sizeof chunk)) != 0;) {
        target->Append(chunk, got);
        moved += LONG(got);
    }
    return moved;
}
