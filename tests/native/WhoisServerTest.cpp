// hollin's whois server, seen from plain client sockets: what each query
// brings back, and the exact bytes it records.
#include "tests/whoisd/WhoisServer.h"
#include "ChildProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace whoisd;
using std::chrono::milliseconds;

namespace {

// One client connection; every receive gives up after ten seconds, so that
// a fault in the server fails the test instead of hanging it.
class Client {
public:
    explicit Client(uint16_t port) : socket(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval limit = {10, 0};
        setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { Close(); }

    void Send(const std::string& bytes) { send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void EndSending() { shutdown(socket, SHUT_WR); }
    void Close() {
        if (socket >= 0) {
            close(socket);
            socket = -1;
        }
    }
    // Everything up to the server's close; `error` is the errno of a failed
    // receive, 0 after an orderly end.
    std::string ReceiveAll(int& error) {
        std::string reply;
        char chunk[4096];
        for (;;) {
            ssize_t count = recv(socket, chunk, sizeof chunk, 0);
            if (count <= 0) {
                error = count == 0 ? 0 : errno;
                return reply;
            }
            reply.append(chunk, size_t(count));
        }
    }
    std::string ReceiveAll() {
        int error = 0;
        std::string reply = ReceiveAll(error);
        EXPECT_EQ(error, 0) << "the reply ends with an orderly close";
        return reply;
    }
    bool HasDataWithin(int ms) {
        pollfd watched = {socket, POLLIN, 0};
        return poll(&watched, 1, ms) > 0;
    }

    bool connected = false;

private:
    int socket;
};

class WhoisServerTest : public testing::Test {
protected:
    void SetUp() override {
        server.SetIdleTime(200);
        std::string error;
        ASSERT_TRUE(server.Start(0, error)) << error;
        ASSERT_NE(server.port(), 0);
    }
    std::string Ask(const std::string& bytes) {
        Client client(server.port());
        EXPECT_TRUE(client.connected);
        client.Send(bytes);
        return client.ReceiveAll();
    }
    Received OnlyRecord() {
        EXPECT_TRUE(server.WaitForReceived(1, milliseconds(5000)));
        std::vector<Received> records = server.received();
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? Received() : records[0];
    }

    WhoisServer server;
};

TEST_F(WhoisServerTest, AnswersCannedRepliesAndRecordsTheExactBytes) {
    EXPECT_EQ(Ask("example.com\n"), ExampleReply);
    EXPECT_EQ(Ask(" EXAMPLE.Com\r\n"), ExampleReply) << "case and white space do not matter";
    EXPECT_EQ(Ask("unknown.test\n"), "No match for \"unknown.test\".\n");

    std::vector<Received> records = server.received();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].bytes, "example.com\n");
    EXPECT_EQ(records[1].bytes, " EXAMPLE.Com\r\n");
    EXPECT_EQ(records[2].bytes, "unknown.test\n");
    EXPECT_EQ(records[0].end, QueryEnd::LineFeed);
}

TEST_F(WhoisServerTest, TellsAClientThatSentNothingFromOneThatSentAQuery) {
    Client idle(server.port());
    EXPECT_EQ(idle.ReceiveAll(), NoQueryReply);
    Received nothing = OnlyRecord();
    EXPECT_EQ(nothing.bytes, "");
    EXPECT_EQ(nothing.end, QueryEnd::Idle);

    Client closing(server.port());
    closing.Send("half");
    closing.EndSending();
    EXPECT_EQ(closing.ReceiveAll(), NoMatchReply("half"));
    ASSERT_TRUE(server.WaitForReceived(2, milliseconds(5000)));
    EXPECT_EQ(server.received()[1].bytes, "half");
    EXPECT_EQ(server.received()[1].end, QueryEnd::ClientClosed);

    Client flooding(server.port());
    flooding.Send(std::string(QueryLimit + 100, 'q'));
    flooding.ReceiveAll();
    ASSERT_TRUE(server.WaitForReceived(3, milliseconds(5000)));
    EXPECT_EQ(server.received()[2].bytes.size(), QueryLimit);
    EXPECT_EQ(server.received()[2].end, QueryEnd::Limit);
}

TEST_F(WhoisServerTest, ScriptedReplies) {
    EXPECT_EQ(Ask("close\n"), "");
    EXPECT_EQ(Ask("hostile\n"), HostileReply);
    EXPECT_EQ(Ask("drip\n"), DripReply());

    std::string large = Ask("large\n");
    ASSERT_EQ(large.size(), size_t(LargeReplyLines) * LargeReplyLineSize);
    EXPECT_GT(large.size(), 65536u);
    EXPECT_EQ(large.substr(0, LargeReplyLineSize), "large 00001 " + std::string(51, 'x') + "\n");
    EXPECT_EQ(large.substr(1024 * LargeReplyLineSize, LargeReplyLineSize), LargeReplyLine(1025));
    EXPECT_EQ(large, LargeReply());
}

TEST_F(WhoisServerTest, ResetComesAfterThePartialReply) {
    Client client(server.port());
    client.Send("reset\n");
    int error = 0;
    EXPECT_EQ(client.ReceiveAll(error), ResetPartialReply);
    EXPECT_EQ(error, ECONNRESET);
}

TEST_F(WhoisServerTest, SilentHoldsTheConnectionWithoutBlockingOthers) {
    Client silent(server.port());
    silent.Send("silent\n");
    ASSERT_TRUE(server.WaitForReceived(1, milliseconds(5000)));
    EXPECT_EQ(Ask("example.com\n"), ExampleReply) << "served beside the silent one";
    EXPECT_FALSE(silent.HasDataWithin(300));
    EXPECT_FALSE(server.WaitUntilAllClosed(milliseconds(0)));

    silent.Close();
    EXPECT_TRUE(server.WaitUntilAllClosed(milliseconds(5000)));
}

TEST_F(WhoisServerTest, StopEndsEveryConnection) {
    Client silent(server.port());
    silent.Send("silent\n");
    Client idle(server.port());
    ASSERT_TRUE(server.WaitForReceived(1, milliseconds(5000)));
    const uint16_t port = server.port();

    server.Stop();
    EXPECT_EQ(server.port(), 0);
    int error = 0;
    EXPECT_EQ(silent.ReceiveAll(error), "");
    EXPECT_NE(error, EAGAIN) << "closed by the server, not timed out by the client";
    EXPECT_EQ(idle.ReceiveAll(error), "");
    EXPECT_NE(error, EAGAIN);
    EXPECT_FALSE(Client(port).connected) << "nothing listens any more";
}

TEST(CannedRepliesTest, RepliesFile) {
    TempDir dir;
    const std::string path = dir.Path("replies");
    WriteBytes(path, "comment line\n"
                     "@@ first.test\n"
                     "line one\r\n"
                     "@@ not a marker inside\n"
                     "@@ Second.Test\n"
                     "@@ \n"
                     "to the empty query line");

    CannedReplies replies;
    std::string error;
    ASSERT_TRUE(replies.LoadFile(path, error)) << error;
    EXPECT_EQ(replies.ReplyFor("FIRST.test"), "line one\r\n");
    EXPECT_EQ(replies.ReplyFor("not a marker inside"), "");
    EXPECT_EQ(replies.ReplyFor("second.test\r"), "");
    EXPECT_EQ(replies.ReplyFor(""), "to the empty query line");
    EXPECT_EQ(replies.ReplyFor("example.com"), ExampleReply) << "built-ins stay";
    EXPECT_EQ(replies.ReplyFor("other"), NoMatchReply("other"));

    WriteBytes(path, "no marker at all\n");
    EXPECT_FALSE(replies.LoadFile(path, error));
    EXPECT_NE(error.find("@@"), std::string::npos) << error;
    unlink(path.c_str());
    EXPECT_FALSE(replies.LoadFile(path, error));
}

TEST(QuoteBytesTest, EscapesAllButPrintableAscii) {
    EXPECT_EQ(QuoteBytes(""), "\"\"");
    EXPECT_EQ(QuoteBytes(std::string("a\"\\\n\r\t\x01\xff", 8)),
              "\"a\\\"\\\\\\n\\r\\t\\x01\\xFF\"");
}

// --- the program ------------------------------------------------------------

TEST(WhoisdProgram, ServesRecordsAndStopsOnSigterm) {
    TempDir dir;
    const std::string portFile = dir.Path("port");
    const std::string recordFile = dir.Path("record");
    const std::string repliesFile = dir.Path("replies");
    WriteBytes(repliesFile, "@@ mine.test\nmy reply\n");

    ChildProcess whoisd;
    ASSERT_TRUE(
        whoisd.Start({BuildFile("hollin-whoisd"), "--port=0", "--port-file=" + portFile, "--record",
                      recordFile, "--replies", repliesFile, "--idle-ms", "100"}));
    int port = 0;
    for (int wait = 0; wait < 500 && port == 0; ++wait) {
        usleep(10000);
        std::sscanf(ReadText(portFile).c_str(), "%d", &port);
    }
    ASSERT_GT(port, 0) << "the port file appears";

    for (const char* query : {"mine.test\n", "", "example.com\n"}) {
        Client client{uint16_t(port)};
        client.Send(query);
        std::string reply = client.ReceiveAll();
        if (*query == 'm') {
            EXPECT_EQ(reply, "my reply\n");
        }
    }
    whoisd.Signal(SIGTERM);
    ProgramResult result = whoisd.Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadText(recordFile), "\"mine.test\\n\"\n\"\"\n\"example.com\\n\"\n");
    EXPECT_NE(access(portFile.c_str(), F_OK), 0) << "the port file is removed at exit";
}

TEST(WhoisdProgram, HelpAndBadUsage) {
    ExpectCommonOptions("hollin-whoisd");
    ProgramResult help = RunBuildProgram("hollin-whoisd", {"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* name : {"--port", "--record", "--replies", "silent", "reset", "drip"}) {
        EXPECT_NE(help.out.find(name), std::string::npos) << name;
    }
    for (std::vector<std::string> arguments : {std::vector<std::string>{"--port", "65536"},
                                               {"--port"},
                                               {"--bogus", "1"},
                                               {"--port=1", "extra"},
                                               {"--idle-ms", "0"}}) {
        ProgramResult result = RunBuildProgram("hollin-whoisd", arguments);
        EXPECT_EQ(result.exitStatus, 2) << arguments[0];
        EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
    }
}

} // namespace
