#include "protocol/SocketStream.h"

#include <cstring>
#include <new>

namespace {

// The most one escaped byte can take ("&amp;").
const DWORD MaxEscapedBytes = 5;

} // namespace

DWORD EscapeHtml(const char* bytes, DWORD count, char* out) {
    DWORD written = 0;
    for (DWORD i = 0; i < count; ++i) {
        const char* entity = nullptr;
        switch (bytes[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        default:
            out[written++] = bytes[i];
            continue;
        }
        size_t length = std::strlen(entity);
        std::memcpy(out + written, entity, length);
        written += DWORD(length);
    }
    return written;
}

SocketStream::SocketStream()
    : incoming(new (std::nothrow) ByteBuffer(BufferMaxSize)),
      outgoing(new (std::nothrow) ByteBuffer(BufferMaxSize)), socket(INVALID_SOCKET), flags(0),
      cut(false) {
    // Without its buffers the stream cannot carry a request; it reads as
    // failed rather than being used through null pointers.
    if (incoming == nullptr || outgoing == nullptr) {
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
        if (sent == SOCKET_ERROR) {
            flags |= ErrorFlag;
            return 0;
        }
        outgoing->Consume(DWORD(sent));
    }
    return 1;
}

LONG SocketStream::ReceiveChunk() {
    char chunk[ChunkSize + 1];
    int received = recv(socket, chunk, ChunkSize, 0);
    if (received == SOCKET_ERROR) {
        flags |= ErrorFlag;
        return 0;
    }
    if (received == 0) {
        return 0;
    }
    KeepChunk(chunk, received);
    return 1;
}

void SocketStream::KeepChunk(const char* bytes, int count) {
    if (cut || incoming == nullptr) {
        cut = true;
        return;
    }
    char escaped[ChunkSize * MaxEscapedBytes];
    DWORD length = EscapeHtml(bytes, DWORD(count), escaped);
    DWORD limit = incoming->GetMaxSize() - ReplyReserve;
    if (incoming->GetLength() + length > limit || incoming->Append(escaped, length) == 0) {
        cut = true;
    }
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
