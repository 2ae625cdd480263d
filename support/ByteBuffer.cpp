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
    head = 0;
    length = 0;
}

DWORD ByteBuffer::CapacityFor(DWORD count) const {
    // Worked in 64 bits: a huge count must not wrap into a small size.
    unsigned long long needed = (unsigned long long)length + count;
    if (needed <= capacity) {
        return capacity;
    }
    unsigned long long top = (unsigned long long)maxSize / step * step;
    if (needed > top) {
        return 0;
    }
    unsigned long long doubled = 2ull * capacity;
    unsigned long long wanted = needed > doubled ? needed : doubled;
    unsigned long long grown = (wanted + step - 1) / step * step;
    return DWORD(grown < top ? grown : top);
}

bool ByteBuffer::MakeRoom(DWORD count) {
    if (capacity - head - length >= count) {
        return true;
    }
    DWORD grown = CapacityFor(count);
    if (grown == 0) {
        return false;
    }
    if (grown == capacity) {
        // Room enough in the block once the run moves back to its front.
        std::memmove(data, data + head, length);
        head = 0;
        return true;
    }
    assert(grown > capacity && grown - length >= count);
    auto* block = new (std::nothrow) BYTE[grown];
    if (block == nullptr) {
        return false;
    }
    if (length != 0) {
        std::memcpy(block, data + head, length);
    }
    delete[] data;
    data = block;
    capacity = grown;
    head = 0;
    return true;
}

bool ByteBuffer::CanAppend(DWORD count) const {
    return CapacityFor(count) != 0;
}

bool ByteBuffer::Reserve(DWORD total) {
    return total <= length || MakeRoom(total - length);
}

DWORD ByteBuffer::Append(const void* bytes, DWORD count) {
    if (count == 0 || bytes == nullptr || !MakeRoom(count)) {
        return 0;
    }
    std::memcpy(data + head + length, bytes, count);
    length += count;
    assert(head + length <= capacity && capacity <= maxSize);
    return count;
}

BYTE* ByteBuffer::TailRoom(DWORD count) {
    return count != 0 && MakeRoom(count) ? data + head + length : nullptr;
}

void ByteBuffer::Extend(DWORD count) {
    assert(count <= capacity - head - length);
    length += count;
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
    std::memcpy(out, data + head, taken);
    return Consume(taken);
}

DWORD ByteBuffer::Consume(DWORD count) {
    DWORD taken = count < length ? count : length;
    length -= taken;
    // An emptied buffer starts again at the front of its block.
    head = length == 0 ? 0 : head + taken;
    return taken;
}

LONG ByteBuffer::MoveTo(ByteBuffer* target) {
    if (target == nullptr || target == this) {
        return 0; // draining into itself would never end
    }
    LONG moved = 0;
    while (length != 0) {
        DWORD piece = length < MoveChunkSize ? length : MoveChunkSize;
        target->Append(data + head, piece);
        moved += LONG(Consume(piece));
    }
    return moved;
}
