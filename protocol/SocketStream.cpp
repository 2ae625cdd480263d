#include "protocol/SocketStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The most one escaped byte can take ("&amp;").
const DWORD MaxEscapedBytes = 5;

const uint64_t EachByte = 0x0101010101010101ull;

// Whether one of the eight bytes of `word` is zero: taking one from each byte
// sets the top bit of a zero byte, and `~word` drops the bytes whose top bit
// was set already.
bool hasZeroByte(uint64_t word) {
    return ((word - EachByte) & ~word & (EachByte << 7)) != 0;
}

bool hasMarkup(uint64_t word) {
    return hasZeroByte(word ^ (EachByte * '&')) || hasZeroByte(word ^ (EachByte * '<')) ||
           hasZeroByte(word ^ (EachByte * '>'));
}

// Writes `byte`, escaped when it is markup; returns the bytes written.
DWORD escapeByte(char byte, char* out) {
    switch (byte) {
    case '&':
        std::memcpy(out, "&amp;", 5);
        return 5;
    case '<':
        std::memcpy(out, "&lt;", 4);
        return 4;
    case '>':
        std::memcpy(out, "&gt;", 4);
        return 4;
    default:
        *out = byte;
        return 1;
    }
}

// Writes `count` bytes, each escaped when it is markup; returns the bytes
// written. (The one caller of escapeByte, so that it is inlined here.)
DWORD escapeEach(const char* bytes, DWORD count, char* out) {
    DWORD written = 0;
    for (DWORD k = 0; k < count; ++k) {
        written += escapeByte(bytes[k], out + written);
    }
    return written;
}

} // namespace

#ifdef __SSE2__
namespace {

const DWORD BlockSize = sizeof(__m128i);

// Whether one of the sixteen bytes of `block` is markup, compared at once
// (every x86-64 processor can).
bool blockHasMarkup(__m128i block) {
    __m128i markup = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('&')),
                                               _mm_cmpeq_epi8(block, _mm_set1_epi8('<'))),
                                  _mm_cmpeq_epi8(block, _mm_set1_epi8('>')));
    return _mm_movemask_epi8(markup) != 0;
}

__m128i loadBlock(const char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// Sixteen bytes at a time: those without markup go through in one store.
// Returns how far it got, and the bytes written in `outLength`.
DWORD escapeBlocks(const char* bytes, DWORD count, char* out, DWORD& outLength) {
    // Counted in a local: the bytes written through `out` could otherwise be
    // the count itself, as far as the compiler knows, and it would be kept
    // in memory.
    DWORD written = 0;
    DWORD i = 0;
    for (; count - i >= BlockSize; i += BlockSize) {
        __m128i block = loadBlock(bytes + i);
        if (!blockHasMarkup(block)) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + written), block);
            written += BlockSize;
            continue;
        }
        written += escapeEach(bytes + i, BlockSize, out + written);
    }
    outLength = written;
    return i;
}

} // namespace
#endif

namespace {

// Whether any of `count` bytes is markup: the escaping pass's test without
// its copy.
bool containsMarkup(const char* bytes, DWORD count) {
    DWORD i = 0;
#ifdef __SSE2__
    for (; count - i >= BlockSize; i += BlockSize) {
        if (blockHasMarkup(loadBlock(bytes + i))) {
            return true;
        }
    }
#endif
    for (uint64_t word; count - i >= sizeof word; i += sizeof word) {
        std::memcpy(&word, bytes + i, sizeof word);
        if (hasMarkup(word)) {
            return true;
        }
    }
    return std::any_of(bytes + i, bytes + count,
                       [](char byte) { return byte == '&' || byte == '<' || byte == '>'; });
}

} // namespace

DWORD EscapeHtml(const char* bytes, DWORD count, char* out) {
    // Replies are mostly plain text: runs without markup go through
    // unchanged, a block or eight bytes at a time, the rest byte by byte.
    const DWORD wordSize = sizeof(uint64_t);
    DWORD written = 0;
    DWORD i = 0;
#ifdef __SSE2__
    i = escapeBlocks(bytes, count, out, written);
#endif
    for (uint64_t word; count - i >= wordSize; i += wordSize) {
        std::memcpy(&word, bytes + i, wordSize);
        if (!hasMarkup(word)) {
            std::memcpy(out + written, &word, wordSize);
            written += wordSize;
            continue;
        }
        written += escapeEach(bytes + i, wordSize, out + written);
    }
    return written + escapeEach(bytes + i, count - i, out + written);
}

SocketStream::SocketStream()
    : incoming(new (std::nothrow) ByteBuffer(BufferMaxSize)),
      outgoing(new (std::nothrow) ByteBuffer(BufferMaxSize)), socket(INVALID_SOCKET), flags(0),
      cut(false), populated(false) {
    // Without its buffers the stream cannot carry a request; it reads as
    // failed rather than being used through null pointers. The reply's
    // block is had whole at once: growing it as the reply comes would copy
    // what came before at each step, and touch fresh memory each time (only
    // the pages a reply fills are ever touched).
    if (incoming == nullptr || outgoing == nullptr || !incoming->Reserve(BufferMaxSize)) {
        flags |= ErrorFlag;
    }
}

SocketStream::~SocketStream() {
    delete incoming;
    delete outgoing;
}

LONG SocketStream::SendAll() {
    if (outgoing == nullptr) {
        return 0;
    }
    while (outgoing->GetLength() != 0) {
        int sent = send(socket, reinterpret_cast<const char*>(outgoing->GetData()),
                        int(outgoing->GetLength()), 0);
        if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK &&
            WaitUntilReady(true, SendWait) == SocketWaitReady) {
            continue;
        }
        if (sent == SOCKET_ERROR) {
            flags |= ErrorFlag;
            return 0;
        }
        outgoing->Consume(DWORD(sent));
    }
    return 1;
}

LONG SocketStream::ReceiveChunk() {
    // While the reply has room for a whole receive, the bytes arrive where
    // they are kept: text without markup, as most replies are, is then never
    // copied again.
    char spare[ReceiveSize];
    PopulateOnceLong();
    BYTE* room = cut || incoming == nullptr ? nullptr : incoming->TailRoom(ReceiveSize);
    char* received = room != nullptr ? reinterpret_cast<char*>(room) : spare;
    int count = recv(socket, received, ReceiveSize, 0);
    if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        return -1;
    }
    if (count == SOCKET_ERROR) {
        flags |= ErrorFlag;
        return 0;
    }
    if (count == 0) {
        return 0;
    }
    if (room != nullptr) {
        KeepReceivedInPlace(received, count, spare);
    } else {
        KeepReceived(spare, count);
    }
    return 1;
}

// A reply that has filled a whole receive is likely to fill more: the rest
// of its buffer is made present in one call, rather than a fault a page as
// the receives reach it. A short reply, as most are, touches only the pages
// it fills.
void SocketStream::PopulateOnceLong() {
    if (populated || cut || incoming == nullptr || incoming->GetLength() < DWORD(ReceiveSize)) {
        return;
    }
    populated = true;
    DWORD rest = incoming->GetCapacity() - incoming->GetLength();
    PopulateMemory(incoming->TailRoom(rest), rest);
}

// Keeps bytes that arrived in the reply's tail room as KeepReceived would
// keep them: pieces without markup are taken where they lie. From the first
// piece with markup on, the rest moves to `spare`, out of the way of its
// escaped form, and is kept from there.
void SocketStream::KeepReceivedInPlace(const char* bytes, int count, char* spare) {
    for (int at = 0; at < count; at += ChunkSize) {
        int piece = count - at < ChunkSize ? count - at : ChunkSize;
        if (containsMarkup(bytes + at, DWORD(piece))) {
            std::memcpy(spare, bytes + at, size_t(count - at));
            KeepReceived(spare, count - at);
            return;
        }
        if (!Fits(DWORD(piece))) {
            cut = true;
            return;
        }
        incoming->Extend(DWORD(piece));
    }
}

void SocketStream::KeepReceived(const char* bytes, int count) {
    for (int at = 0; at < count; at += ChunkSize) {
        KeepChunk(bytes + at, count - at < ChunkSize ? count - at : ChunkSize);
    }
}

void SocketStream::KeepChunk(const char* bytes, int count) {
    if (cut || incoming == nullptr) {
        cut = true;
        return;
    }
    // Escaped straight into the reply while it has room for the longest
    // escaped form; near its end, through a copy.
    BYTE* room = incoming->TailRoom(DWORD(count) * MaxEscapedBytes);
    if (room == nullptr) {
        char escaped[ChunkSize * MaxEscapedBytes];
        KeepBytes(escaped, EscapeHtml(bytes, DWORD(count), escaped));
        return;
    }
    DWORD length = EscapeHtml(bytes, DWORD(count), reinterpret_cast<char*>(room));
    if (Fits(length)) {
        incoming->Extend(length);
    } else {
        cut = true;
    }
}

bool SocketStream::Fits(DWORD count) const {
    DWORD limit = incoming->GetMaxSize() - ReplyReserve;
    return count <= limit && incoming->GetLength() <= limit - count;
}

void SocketStream::KeepBytes(const char* bytes, DWORD count) {
    if (cut || incoming == nullptr) {
        cut = true;
        return;
    }
    if (!Fits(count) || incoming->Append(bytes, count) != count) {
        cut = true;
    }
}

void SocketStream::KeepLine(LPCSTR html) {
    DWORD length = html != nullptr ? DWORD(std::strlen(html)) : 0;
    // One piece, so that a line is kept whole or not at all.
    char line[ChunkSize + 1];
    if (length >= sizeof line) {
        cut = true;
        return;
    }
    std::memcpy(line, html, length);
    line[length] = '\n';
    KeepBytes(line, length + 1);
}

LONG SocketStream::SendLine(LPCSTR text) {
    if (outgoing == nullptr) {
        return 0;
    }
    outgoing->AppendLine(text);
    if (!SendAll()) {
        return 0;
    }
    return text != nullptr ? LONG(std::strlen(text)) : 0;
}

#ifdef _WIN32
// WSAPoll reports a refused connection only from Windows 10 version 2004 on
// (before, the wait runs to its time-out); select reports it in the
// exception set on every version. Windows' fd_set is a list of sockets, so
// any socket fits.
SocketWait SocketStream::WaitUntilReady(bool forWriting, DWORD milliseconds) const {
    fd_set ready;
    fd_set failed; // only while connecting: for a reply it would be urgent data
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    if (forWriting) {
        FD_SET(socket, &failed);
    }
    timeval limit = {long(milliseconds / 1000), long(milliseconds % 1000) * 1000};
    int count = select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
                       forWriting ? &failed : nullptr, &limit);
    if (count == SOCKET_ERROR) {
        return SocketWaitFailed;
    }
    if (count == 0) {
        return SocketWaitTimedOut;
    }
    return FD_ISSET(socket, &failed) ? SocketWaitFailed : SocketWaitReady;
}
#else
// The POSIX stand-ins keep WSAPoll: a POSIX fd_set cannot hold a descriptor
// at or above FD_SETSIZE, which a busy host passes, and poll reports a
// refused connection at once as an error.
SocketWait SocketStream::WaitUntilReady(bool forWriting, DWORD milliseconds) const {
    WSAPOLLFD entry = {};
    entry.fd = socket;
    entry.events = forWriting ? POLLOUT : POLLIN;
    int ready = WSAPoll(&entry, 1, int(milliseconds));
    if (ready == SOCKET_ERROR) {
        return SocketWaitFailed;
    }
    if (ready == 0) {
        return SocketWaitTimedOut;
    }
    // A failed connection shows as an error or hang-up; for reading, a
    // hang-up still lets recv report the close or the error itself.
    if (forWriting && (entry.revents & (POLLERR | POLLHUP)) != 0) {
        return SocketWaitFailed;
    }
    return SocketWaitReady;
}
#endif
