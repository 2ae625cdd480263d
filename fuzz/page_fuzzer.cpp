// The result page from any reply a server may send and any status: the first
// byte is the status, the second the size of the pieces the reply arrives
// in, the rest the reply. The page must be whole (header first, then the
// reply, any cut notice and status lines, then separator, footer and closing
// lines) and hold the reply only escaped, cut at most between two bytes.
#include "PageCheck.h"
#include "protocol/ResultPage.h"
#include "protocol/SocketStream.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The escaping a page must show, written apart from the product's.
std::string escapeByte(char byte) {
    switch (byte) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    default:
        return std::string(1, byte);
    }
}

std::string line(const char* text) {
    return std::string(text) + "\n";
}

// Passes the reply through a connected socket pair into the stream, piece
// by piece, as the server's bytes arrive.
void receiveReply(SocketStream& stream, const uint8_t* reply, size_t size, size_t piece) {
    int ends[2];
    require(socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0);
    stream.SetSocket(ends[0]);
    for (size_t at = 0; at < size; at += piece) {
        size_t count = size - at < piece ? size - at : piece;
        require(write(ends[1], reply + at, count) == ssize_t(count));
        // Every byte waiting is received before the next piece is sent.
        for (int waiting = 1; waiting > 0;) {
            require(ioctl(ends[0], FIONREAD, &waiting) == 0);
            if (waiting > 0) {
                require(stream.ReceiveChunk() == 1);
            }
        }
    }
    close(ends[1]);
    require(stream.ReceiveChunk() == 0 && stream.IsOk());
    close(ends[0]);
}

// How much of `body` is the escaped form of the reply's first bytes, whole
// bytes only; `used` gets the number of those bytes.
size_t escapedPrefix(const std::string& body, const uint8_t* reply, size_t size, size_t& used) {
    size_t at = 0;
    used = 0;
    while (used < size) {
        std::string escaped = escapeByte(char(reply[used]));
        if (body.compare(at, escaped.size(), escaped) != 0) {
            break;
        }
        at += escaped.size();
        ++used;
    }
    return at;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    auto status = LONG(int8_t(data[0]));
    size_t piece = (data[1] + 1) * 8;
    const uint8_t* reply = data + 2;
    size_t replySize = size - 2;

    SocketStream stream;
    receiveReply(stream, reply, replySize, piece);
    // What the request adds after the reply, as the exchange does.
    if (stream.WasCut()) {
        AppendCutNotice(*stream.GetIncoming());
    }
    AppendStatusLines(*stream.GetIncoming(), status);
    ByteBuffer page(PageMaxSize);
    ComposePage(page, *stream.GetIncoming());
    std::string body = requireWholePage(page);

    size_t used = 0;
    size_t at = escapedPrefix(body, reply, replySize, used);
    std::string rest = body.substr(at);
    ByteBuffer statusLines;
    statusLines.Reset(4096, 256);
    AppendStatusLines(statusLines, status);
    std::string expectedLines(reinterpret_cast<const char*>(statusLines.GetData()),
                              statusLines.GetLength());
    if (used == replySize) {
        require(rest == expectedLines);
        return 0;
    }
    // A cut reply: the notice on a line of its own, then the status lines.
    require(stream.WasCut());
    std::string notice = line(PageCutNoticeLine);
    if (at > 0 && body[at - 1] != '\n') {
        notice = "\n" + notice;
    }
    require(rest == notice + expectedLines);
    return 0;
}
