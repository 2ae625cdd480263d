// HttpFetch against a server on loopback: what a response gives back, and
// how the ways a fetch can end are told apart. The same test runs over
// libcurl natively and over WinHTTP under Wine.
#include "support/LoopbackServer.h"

#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr DWORD Generous = 10000; // milliseconds: time-outs a test should never reach

std::string urlOf(WORD port, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::string httpResponse(const std::string& statusLine, const std::string& headers,
                         const std::string& body) {
    return "HTTP/1.1 " + statusLine + "\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

// One fetch and its response, freed when it goes.
struct Fetched {
    explicit Fetched(const std::string& url, DWORD maxBody = 1 << 20,
                     DWORD receiveTimeout = Generous, HANDLE stopEvent = nullptr) {
        HttpGetRequest request = {};
        request.url = url.c_str();
        request.accept = "application/rdap+json";
        request.connectTimeout = Generous;
        request.receiveTimeout = receiveTimeout;
        request.maxBody = maxBody;
        request.stopEvent = stopEvent;
        outcome = HttpFetch(request, response);
    }
    ~Fetched() { HttpFreeResponse(response); }
    Fetched(const Fetched&) = delete;
    Fetched& operator=(const Fetched&) = delete;

    std::string Body() const {
        return response.body != nullptr
                   ? std::string(reinterpret_cast<const char*>(response.body), response.bodyLength)
                   : std::string();
    }
    std::string Text(const char* header) const { return header != nullptr ? header : "<none>"; }
    // What failed, for a failed expectation's message.
    std::string Failure() const {
        return std::string(response.failedCall) + ": " + std::to_string(response.systemError);
    }

    HttpOutcome outcome;
    HttpResponse response;
};

TEST(HttpFetch, GivesBackStatusHeadersAndBodyAndLeavesRedirectsToTheCaller) {
    LoopbackServer found(LoopbackServer::Action::Reply,
                         httpResponse("200 OK", "Content-Type: application/rdap+json\r\n",
                                      "{\"objectClassName\":\"domain\"}"));
    Fetched ok(urlOf(found.Port(), "/domain/example.com"));
    EXPECT_EQ(ok.outcome, HttpDone) << ok.Failure();
    EXPECT_EQ(ok.response.status, 200u);
    EXPECT_EQ(ok.Text(ok.response.contentType), "application/rdap+json");
    EXPECT_EQ(ok.Text(ok.response.location), "<none>");
    EXPECT_EQ(ok.Body(), "{\"objectClassName\":\"domain\"}");
    ASSERT_EQ(found.Received().size(), 1u);
    std::string request = found.Received()[0];
    EXPECT_EQ(request.find("GET /domain/example.com HTTP/1.1\r\n"), 0u) << request;
    EXPECT_NE(request.find("\r\nAccept: application/rdap+json\r\n"), std::string::npos) << request;

    // An error status is a response like any other.
    LoopbackServer missing(LoopbackServer::Action::Reply,
                           httpResponse("404 Not Found", "", "{\"errorCode\":404}"));
    Fetched notFound(urlOf(missing.Port(), "/domain/nothing.example"));
    EXPECT_EQ(notFound.outcome, HttpDone);
    EXPECT_EQ(notFound.response.status, 404u);
    EXPECT_EQ(notFound.Body(), "{\"errorCode\":404}");

    LoopbackServer moved(LoopbackServer::Action::Reply, "");
    std::string target = urlOf(moved.Port(), "/elsewhere");
    moved.SetReply(httpResponse("302 Found", "Location: " + target + "\r\n", ""));
    Fetched redirect(urlOf(moved.Port(), "/domain/example.com"));
    EXPECT_EQ(redirect.outcome, HttpDone);
    EXPECT_EQ(redirect.response.status, 302u);
    EXPECT_EQ(redirect.Text(redirect.response.location), target);
    EXPECT_EQ(moved.Received().size(), 1u) << "the redirect is not followed";
}

TEST(HttpFetch, KeepsAtMostMaxBodyBytes) {
    const std::string body = "0123456789abcdefghij";
    LoopbackServer server(LoopbackServer::Action::Reply, httpResponse("200 OK", "", body));
    Fetched exact(urlOf(server.Port(), "/"), DWORD(body.size()));
    EXPECT_EQ(exact.outcome, HttpDone);
    EXPECT_EQ(exact.Body(), body);

    Fetched longer(urlOf(server.Port(), "/"), 10);
    EXPECT_EQ(longer.outcome, HttpBodyTooLarge);
    EXPECT_EQ(longer.response.status, 200u);
    EXPECT_EQ(longer.Body(), body.substr(0, 10));
}

TEST(HttpFetch, TellsARefusedConnectionASilentServerAndABadUrlApart) {
    Fetched refused(urlOf(LoopbackServer::UnusedPort(), "/"));
    EXPECT_EQ(refused.outcome, HttpConnectFailed) << refused.Failure();
    EXPECT_EQ(refused.response.status, 0u);
    EXPECT_NE(refused.response.failedCall[0], '\0');

    LoopbackServer silent(LoopbackServer::Action::Silent);
    Fetched timedOut(urlOf(silent.Port(), "/"), 1 << 20, 200);
    EXPECT_EQ(timedOut.outcome, HttpTimedOut) << timedOut.Failure();

    Fetched badScheme("ftp://127.0.0.1/file");
    EXPECT_EQ(badScheme.outcome, HttpFailed);
    EXPECT_NE(badScheme.response.failedCall[0], '\0');
}

TEST(HttpFetch, EndsWhenTheStopEventIsSet) {
    LoopbackServer silent(LoopbackServer::Action::Silent);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(stop, nullptr);
    std::thread stopper([&] {
        for (int wait = 0; wait < 1000 && silent.Received().empty(); ++wait) {
            Sleep(10);
        }
        SetEvent(stop);
    });
    // The receive time-out is far off: only the event can end this fetch
    // as stopped.
    Fetched stopped(urlOf(silent.Port(), "/"), 1 << 20, 60000, stop);
    stopper.join();
    EXPECT_EQ(stopped.outcome, HttpStopped);
    CloseHandle(stop);
}

#ifdef _WIN32
// WinHTTP is loaded at run time so that the library works where it is
// missing. The Windows build's ctest also runs this test with winhttp.dll
// disabled for Wine and HOLLIN_WINHTTP_DISABLED set.
TEST(HttpFetch, SaysSoWhereWinHttpIsMissing) {
    bool missing = std::getenv("HOLLIN_WINHTTP_DISABLED") != nullptr;
    Fetched fetched(urlOf(LoopbackServer::UnusedPort(), "/"));
    EXPECT_EQ(fetched.outcome, missing ? HttpUnavailable : HttpConnectFailed) << fetched.Failure();
}
#endif

} // namespace
