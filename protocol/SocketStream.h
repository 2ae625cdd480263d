// A connected TCP socket with a buffer of bytes to send, a buffer of bytes
// received, and a sticky error flag.
#pragma once

#include "support/ByteBuffer.h"

// Results of waiting on a socket.
enum SocketWait : LONG {
    SocketWaitFailed = -1,
    SocketWaitTimedOut = 0,
    SocketWaitReady = 1,
};

// The incoming buffer is the request's reply: what the server sent, with
// HTML's special characters escaped as they are stored (any server can be
// named in a URL, and its bytes end up in a page), and after it any status
// lines. Received data is kept below ReplyReserve bytes of the buffer's
// maximum, so that the lines the system adds always fit; once a chunk does
// not fit, nothing later is kept either, so a cut reply has no gap.
class SocketStream {
public:
    SocketStream();
    ~SocketStream();
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    void SetSocket(SOCKET s) { socket = s; }
    // Sends all of `outgoing`; 0 (with the error flag set) when a send fails,
    // or a non-blocking socket takes nothing for SendWait milliseconds.
    LONG SendAll();
    // One receive of up to ReceiveSize bytes into `incoming`: 1 when bytes came
    // (kept or, past the limit, dropped), 0 when the server closed the
    // connection or the receive failed (then the error flag is set), -1 when
    // a non-blocking socket has nothing yet.
    LONG ReceiveChunk();
    LONG IsOk() const { return (flags & ErrorFlag) == 0 ? 1 : 0; }
    // The text and a line feed, sent at once; the text's length when sent.
    LONG SendLine(LPCSTR text);
    ByteBuffer* GetIncoming() const { return incoming; }

    // Waits up to `milliseconds` for the socket to have data (or an orderly
    // close) to read, or to be writable when `forWriting`.
    [[nodiscard]] SocketWait WaitUntilReady(bool forWriting, DWORD milliseconds) const;
    // Marks the stream failed, as a socket error would (used for time-outs).
    void SetFailed() { flags |= ErrorFlag; }
    // Whether received data had to be left out.
    bool WasCut() const { return cut; }
    // Appends a line of the system's own HTML, as it is, within the same
    // bound as received data: a line that does not fit cuts the stream.
    void KeepLine(LPCSTR html);
    // Keeps received bytes as ReceiveChunk does: escaped, in pieces of
    // ChunkSize bytes, each kept whole or, once one does not fit, none.
    void KeepReceived(const char* bytes, int count);

    static const DWORD BufferMaxSize = 65536;
    static const DWORD ReplyReserve = 1024;
    // Replies are kept or cut in pieces of ChunkSize bytes; a receive takes
    // up to ReceiveSize bytes at once, a whole number of pieces.
    static const int ChunkSize = 1023;
    static const int ReceiveSize = 16 * ChunkSize;
    // A query line is a few hundred bytes, which a new connection's send
    // buffer always takes at once; this bounds the wait all the same.
    static const DWORD SendWait = 30000;

private:
    static const WORD ErrorFlag = 0x0001;
    void PopulateOnceLong();
    void KeepReceivedInPlace(const char* bytes, int count, char* spare);
    void KeepChunk(const char* bytes, int count);
    // Whether `count` more bytes stay below the reserve for the system's lines.
    bool Fits(DWORD count) const;
    // Appends within the bound, or marks the stream cut.
    void KeepBytes(const char* bytes, DWORD count);

    ByteBuffer* incoming;
    ByteBuffer* outgoing;
    SOCKET socket;
    WORD flags;
    bool cut;
    bool populated; // the rest of the reply's buffer has been made present
};

// Writes `count` bytes to `out` with '&', '<' and '>' replaced by their HTML
// entities; `out` must have room for 5 * count bytes. Returns the bytes written.
DWORD EscapeHtml(const char* bytes, DWORD count, char* out);
