// A bounded byte queue: append at the tail, read or consume at the head.
#pragma once

#include "platform/winapi.h"

// The stored bytes are one run inside one heap block: consuming moves the
// start of the run, so draining costs nothing per piece, and the run moves
// back to the front of the block only when an append needs the room. The
// block grows geometrically, in whole steps, and never beyond the largest
// whole number of steps within the maximum fixed at construction; an append
// that would need more fails whole and changes nothing.
class ByteBuffer {
public:
    // A buffer of one 256-byte step that never grows.
    ByteBuffer();
    // A buffer of up to `maxSize` bytes (at least 256), growing in 256-byte steps.
    explicit ByteBuffer(DWORD maxSize);
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Discards the content and starts again with new limits.
    void Reset(DWORD maxSize, DWORD step);

    // Each returns the number of bytes stored, or 0 when nothing was.
    DWORD Append(const void* bytes, DWORD count);
    DWORD AppendText(LPCSTR text);
    // The text and a line feed; an empty text appends nothing at all.
    DWORD AppendLine(LPCSTR text);

    DWORD Read(void* out, DWORD count);
    DWORD Consume(DWORD count);
    // Drains this buffer into `target` in pieces of up to 256 bytes; a piece
    // the target refuses is dropped. Returns the number of bytes drained.
    LONG MoveTo(ByteBuffer* target);

    // Room for `count` bytes after the stored run, made as an Append of them
    // would make it, for the caller to write into and then keep with Extend:
    // bytes can then arrive where they are stored, without a copy. Null when
    // such an Append would fail. Any other call may move or reuse the room.
    BYTE* TailRoom(DWORD count);
    // Keeps `count` bytes written into the room TailRoom gave.
    void Extend(DWORD count);
    // Whether an Append of `count` bytes would succeed now (memory aside).
    bool CanAppend(DWORD count) const;
    // Grows the block, when it must, to hold `total` bytes: then appends up
    // to that length cannot fail. False when the maximum or memory refuses.
    bool Reserve(DWORD total);

    void Clear() {
        head = 0;
        length = 0;
    }
    DWORD GetLength() const { return length; }
    const BYTE* GetData() const { return data + head; }
    DWORD GetCapacity() const { return capacity; }
    DWORD GetMaxSize() const { return maxSize; }
    DWORD GetStep() const { return step; }

    static const DWORD DefaultStep = 256;
    static const DWORD MoveChunkSize = 256;

private:
    void SetLimits(DWORD maxSize, DWORD step);
    // The capacity that holding `count` more bytes needs: the present one
    // when they fit, else twice it (or at least what they need) in whole
    // steps, up to the largest whole number of steps within the maximum;
    // 0 when they cannot fit.
    DWORD CapacityFor(DWORD count) const;
    // Makes room at the end of the run for `count` more bytes.
    bool MakeRoom(DWORD count);

    BYTE* data;
    DWORD maxSize;
    DWORD step;
    DWORD capacity;
    DWORD head; // where the stored run starts in the block
    DWORD length;
};
