// The project's RDAP server (hollin-rdapd), fetched from through HttpFetch:
// its routes, and HTTPS with a certificate the test makes, trusted only when
// its authority is given.
#include "ChildProcess.h"
#include "NativeTestSupport.h"

#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <unistd.h>

namespace {

// hollin-rdapd on a port of its choosing, serving `routes` (written to the
// folder), ended when the object goes.
class RdapServer {
public:
    RdapServer(const TempDir& folder, const std::string& routes,
               const std::vector<std::string>& options = {})
        : log(folder.Path("requests.log")) {
        WriteBytes(folder.Path("routes.json"), routes);
        std::vector<std::string> arguments = {BuildFile("hollin-rdapd"), "--routes",
                                              folder.Path("routes.json"), "--log", log};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::string announced = folder.Path("announced");
        WriteBytes(announced, "");
        if (!server.Start(arguments, announced)) {
            return;
        }
        for (int wait = 0; wait < 1000 && port == 0; ++wait) {
            usleep(10000);
            std::sscanf(ReadText(announced).c_str(), "listening on %d", &port);
        }
    }
    ~RdapServer() {
        server.Signal(SIGTERM);
        EXPECT_EQ(server.Finish().exitStatus, 0);
    }
    RdapServer(const RdapServer&) = delete;
    RdapServer& operator=(const RdapServer&) = delete;

    int Port() const { return port; }
    std::string Url(const std::string& scheme, const std::string& path) const {
        return scheme + "://127.0.0.1:" + std::to_string(port) + path;
    }
    std::string Log() const { return ReadText(log); }

private:
    ChildProcess server;
    std::string log;
    int port = 0;
};

struct Fetched {
    explicit Fetched(const std::string& url, DWORD receiveTimeout = 10000,
                     const char* caFile = nullptr) {
        HttpGetRequest request = {};
        request.url = url.c_str();
        request.accept = "application/rdap+json";
        request.caFile = caFile;
        request.connectTimeout = 10000;
        request.receiveTimeout = receiveTimeout;
        request.maxBody = 1 << 20;
        outcome = HttpFetch(request, response);
    }
    ~Fetched() { HttpFreeResponse(response); }
    Fetched(const Fetched&) = delete;
    Fetched& operator=(const Fetched&) = delete;

    std::string Body() const {
        return std::string(reinterpret_cast<const char*>(response.body), response.bodyLength);
    }

    HttpOutcome outcome;
    HttpResponse response;
};

TEST(RdapServer, AnswersEachPathAsItsRoutesSay) {
    TempDir folder;
    WriteBytes(folder.Path("dns.json"), "{\"services\": [[[\"test\"], "
                                        "[\"http://127.0.0.1:${port}/rdap/\"]]]}");
    RdapServer server(folder, R"({
        "/dns.json": {"body_file": "dns.json"},
        "/rdap/domain/old.test": {"status": 301,
            "headers": {"Location": "http://127.0.0.1:${port}/rdap/domain/new.test"}},
        "/rdap/domain/huge.test": {"body_repeat": ["0123456789", 1048576]},
        "/rdap/domain/silent.test": {"silent": true},
        "/broken": {"status": 500, "headers": {"Content-Type": "text/plain"}, "body": "oops"}
    })");
    ASSERT_GT(server.Port(), 0) << "hollin-rdapd announced its port";
    const std::string self = "127.0.0.1:" + std::to_string(server.Port());

    Fetched bootstrap(server.Url("http", "/dns.json"));
    EXPECT_EQ(bootstrap.outcome, HttpDone);
    EXPECT_EQ(std::string(bootstrap.response.contentType), "application/rdap+json");
    EXPECT_EQ(bootstrap.Body(), "{\"services\": [[[\"test\"], [\"http://" + self + "/rdap/\"]]]}");

    Fetched moved(server.Url("http", "/rdap/domain/old.test?x=1"));
    EXPECT_EQ(moved.response.status, 301u);
    EXPECT_EQ(std::string(moved.response.location), "http://" + self + "/rdap/domain/new.test");

    Fetched huge(server.Url("http", "/rdap/domain/huge.test"));
    EXPECT_EQ(huge.outcome, HttpBodyTooLarge);
    EXPECT_EQ(huge.Body().substr(0, 20), "01234567890123456789");

    Fetched silent(server.Url("http", "/rdap/domain/silent.test"), 200);
    EXPECT_EQ(silent.outcome, HttpTimedOut);

    Fetched broken(server.Url("http", "/broken"));
    EXPECT_EQ(broken.response.status, 500u);
    EXPECT_EQ(std::string(broken.response.contentType), "text/plain");
    EXPECT_EQ(broken.Body(), "oops");

    Fetched unknown(server.Url("http", "/rdap/domain/unknown.test"));
    EXPECT_EQ(unknown.response.status, 404u);
    EXPECT_NE(unknown.Body().find("\"errorCode\": 404"), std::string::npos) << unknown.Body();

    EXPECT_EQ(server.Log(), "GET /dns.json application/rdap+json\n"
                            "GET /rdap/domain/old.test?x=1 application/rdap+json\n"
                            "GET /rdap/domain/huge.test application/rdap+json\n"
                            "GET /rdap/domain/silent.test application/rdap+json\n"
                            "GET /broken application/rdap+json\n"
                            "GET /rdap/domain/unknown.test application/rdap+json\n");
}

// Runs a shell command line; true when it exits 0.
bool run(const std::string& commandLine) {
    return RunProgram({"/bin/sh", "-c", commandLine}).exitStatus == 0;
}

TEST(RdapServer, ServesHttpsTrustedOnlyWithItsAuthority) {
    if (!run("command -v openssl")) {
        GTEST_SKIP() << "openssl is not installed: the test cannot make its certificates";
    }
    TempDir folder;
    const std::string in = "cd '" + folder.Path("") + "' && ";
    const std::string key = "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 ";
    ASSERT_TRUE(run(in + key + "-out ca.key && " + key + "-out server.key"));
    ASSERT_TRUE(run(in + "openssl req -x509 -new -key ca.key -subj '/CN=hollin test authority' "
                         "-days 2 -out ca.pem"));
    WriteBytes(folder.Path("server.ext"), "subjectAltName = IP:127.0.0.1\n"
                                          "basicConstraints = CA:FALSE\n"
                                          "extendedKeyUsage = serverAuth\n");
    ASSERT_TRUE(run(in + "openssl req -new -key server.key -subj /CN=127.0.0.1 -out server.csr && "
                         "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key "
                         "-CAcreateserial -days 2 -extfile server.ext -out server.pem"));

    RdapServer server(folder, R"({"/domain/example.test": {"body": "{\"handle\": \"X\"}"}})",
                      {"--tls", folder.Path("server.pem"), folder.Path("server.key")});
    ASSERT_GT(server.Port(), 0) << "hollin-rdapd announced its port";
    const std::string url = server.Url("https", "/domain/example.test");
    const std::string authority = folder.Path("ca.pem");

    Fetched trusted(url, 10000, authority.c_str());
    EXPECT_EQ(trusted.outcome, HttpDone) << trusted.response.failedCall;
    EXPECT_EQ(trusted.Body(), "{\"handle\": \"X\"}");

    Fetched untrusted(url);
    EXPECT_EQ(untrusted.outcome, HttpTlsFailed);
    EXPECT_EQ(untrusted.response.bodyLength, 0u);
}

TEST(RdapServer, CommonOptionsAndABadRoutesFile) {
    ExpectCommonOptions("hollin-rdapd");
    TempDir folder;
    WriteBytes(folder.Path("routes.json"), "[\"not an object\"]");
    ProgramResult bad = RunBuildProgram("hollin-rdapd", {"--routes", folder.Path("routes.json")});
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_NE(bad.err.find("JSON object"), std::string::npos) << bad.err;
}

} // namespace
