#include "protocol/SocketStream.h"

#include "support/LoopbackServer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string escaped(const std::string& text) {
    std::string out(text.size() * 5, '\0');
    out.resize(EscapeHtml(text.data(), DWORD(text.size()), &out[0]));
    return out;
}

// Asks `server` and keeps its whole reply as a request does.
std::string receiveAll(const LoopbackServer& server, SocketStream& stream) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server.Port());
    if (s == INVALID_SOCKET ||
        connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot connect to the test server";
        return std::string();
    }
    stream.SetSocket(s);
    stream.SendLine("q");
    while (stream.ReceiveChunk() != 0) {
    }
    closesocket(s);
    const ByteBuffer& kept = *stream.GetIncoming();
    return std::string(reinterpret_cast<const char*>(kept.GetData()), kept.GetLength());
}

// Plain text is kept where it was received, and a receive is escaped from
// its first piece with markup on: markup far into a receive, and at the
// reply's last byte, must come out escaped, and the plain text around it
// whole.
TEST(SocketStream, MarkupWithinAReceiveIsEscapedAndNothingAroundItLost) {
    std::string plain;
    for (int line = 0; plain.size() < 20000; ++line) {
        plain += "line " + std::to_string(line) + " of plain text\r\n";
    }
    std::string reply = plain.substr(0, 5000) + "<b>a & b</b>\n" + plain + "&";
    LoopbackServer server(LoopbackServer::Action::Reply, reply);
    SocketStream stream;
    EXPECT_EQ(receiveAll(server, stream), escaped(reply));
    EXPECT_FALSE(stream.WasCut());

    std::string oversized = reply + plain + plain + plain;
    LoopbackServer bigServer(LoopbackServer::Action::Reply, oversized);
    SocketStream bigStream;
    std::string kept = receiveAll(bigServer, bigStream);
    EXPECT_TRUE(bigStream.WasCut());
    EXPECT_LE(kept.size(), SocketStream::BufferMaxSize - SocketStream::ReplyReserve);
    EXPECT_GT(kept.size(), SocketStream::BufferMaxSize - SocketStream::ReplyReserve -
                               DWORD(SocketStream::ReceiveSize));
    EXPECT_EQ(escaped(oversized).compare(0, kept.size(), kept), 0) << "the head, with no gap";
}

} // namespace
