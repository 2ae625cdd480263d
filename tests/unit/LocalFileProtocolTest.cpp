#include "protocol/LocalFileProtocol.h"
#include "protocol/ResultPage.h"
#include "server/ServerModule.h"
#include "support/ProtocolScenario.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Action = LoopbackServer::Action;

bool staticLibraryIdle() {
    return theModule.GetLockCount() == 0;
}

const ObjectMaker staticMaker = {"StaticLibrary", LocalFileProtocol::Create, staticLibraryIdle};

INSTANTIATE_TEST_SUITE_P(StaticLibrary, ProtocolScenario, testing::Values(staticMaker),
                         [](const testing::TestParamInfo<ObjectMaker>& info) {
                             return std::string(info.param.name);
                         });

// A request run on its own, with time-outs of the test's choosing.
class TimedRequest {
public:
    TimedRequest(const std::string& url, DWORD connectTimeout, DWORD receiveTimeout)
        : wideUrl(url.begin(), url.end()),
          request(&sink, reinterpret_cast<LPCWSTR>(wideUrl.c_str())) {
        request.SetTimeouts(connectTimeout, receiveTimeout);
    }
    std::string Reply() const { return Contents(*request.GetStream()->GetIncoming()); }

    TestSink sink;
    std::u16string wideUrl;
    WhoisRequest request;
};

TEST(LocalFileProtocol, TimeOutsEndASilentExchange) {
    LoopbackServer silent(Action::Silent);
    TimedRequest timed(UrlFor(silent, "slow"), WhoisRequest::ConnectTimeout, 200);
    ASSERT_EQ(timed.request.Parse(), 1);
    ASSERT_EQ(timed.request.Start(), 1);
    EXPECT_TRUE(timed.sink.WaitForCompletion());
    timed.request.Wait(INFINITE);
    EXPECT_EQ(timed.request.GetExitCode(), DWORD(StatusSocketError));
    EXPECT_EQ(timed.Reply(), StatusLines(StatusSocketError));
}

TEST(LocalFileProtocol, AConnectionThatIsNeverMadeTimesOut) {
    FullListener listener;
    TimedRequest timed(UrlFor(listener.Port(), "q"), 300, WhoisRequest::ReceiveTimeout);
    ASSERT_EQ(timed.request.Parse(), 1);
    ASSERT_EQ(timed.request.Start(), 1);
    EXPECT_FALSE(timed.sink.WaitForCompletion(100)) << "the connection is waited for, not refused";
    EXPECT_TRUE(timed.sink.WaitForCompletion());
    timed.request.Wait(INFINITE);
    EXPECT_EQ(timed.request.GetExitCode(), DWORD(StatusConnectFailed));
    EXPECT_EQ(timed.Reply(), StatusLines(StatusConnectFailed));
}

TEST(LocalFileProtocol, ARefusedConnectionIsReportedWithoutWaitingOutTheTimeOut) {
    TimedRequest timed(UrlFor(LoopbackServer::UnusedPort(), "q"), 600000,
                       WhoisRequest::ReceiveTimeout);
    ASSERT_EQ(timed.request.Parse(), 1);
    ASSERT_EQ(timed.request.Start(), 1);
    EXPECT_TRUE(timed.sink.WaitForCompletion()) << "not after the ten-minute time-out";
    timed.request.Stop(INFINITE);
    timed.request.Wait(INFINITE);
    EXPECT_EQ(timed.Reply(), StatusLines(StatusConnectFailed));
}

// An outer object that answers only IUnknown itself and counts its references.
struct Outer : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++count); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--count); }
    int count = 0;
};

TEST(LocalFileProtocol, AggregatedInterfacesForwardToTheOuterObject) {
    Outer outer;
    LONG locksBefore = theModule.GetLockCount();
    IUnknown* inner = nullptr;
    ASSERT_EQ(LocalFileProtocol::Create(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
              S_OK);
    EXPECT_EQ(theModule.GetLockCount(), locksBefore + 1);
    IInternetProtocol* protocol = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IInternetProtocol, reinterpret_cast<void**>(&protocol)),
              S_OK);
    EXPECT_EQ(outer.count, 1) << "interfaces handed out count on the outer object";
    IUnknown* viaProtocol = nullptr;
    EXPECT_EQ(protocol->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaProtocol)), S_OK);
    EXPECT_EQ(viaProtocol, static_cast<IUnknown*>(&outer)) << "identity is the outer object's";
    viaProtocol->Release();
    void* root = nullptr;
    EXPECT_EQ(protocol->QueryInterface(IID_IInternetProtocolRoot, &root), S_OK)
        << "what the outer object does not answer, the object's own map does";
    static_cast<IUnknown*>(root)->Release();
    protocol->Release();
    EXPECT_EQ(outer.count, 0);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(theModule.GetLockCount(), locksBefore);
}

} // namespace
