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

TEST(LocalFileProtocol, TimeOutsEndASilentExchange) {
    LoopbackServer silent(Action::Silent);
    TestSink sink;
    std::string narrow = UrlFor(silent, "slow");
    std::u16string url(narrow.begin(), narrow.end());
    WhoisRequest request(&sink, reinterpret_cast<LPCWSTR>(url.c_str()));
    request.SetTimeouts(WhoisRequest::ConnectTimeout, 200);
    ASSERT_EQ(request.Parse(), 1);
    ASSERT_EQ(request.Start(), 1);
    EXPECT_TRUE(sink.WaitForCompletion());
    request.Wait(INFINITE);
    EXPECT_EQ(request.GetExitCode(), DWORD(StatusSocketError));
    ByteBuffer* reply = request.GetStream()->GetIncoming();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply->GetData()), reply->GetLength()),
              StatusLines(StatusSocketError));
}

TEST(LocalFileProtocol, AConnectionThatIsNeverMadeTimesOut) {
    FullListener listener;
    TestSink sink;
    std::string narrow = "dnswhois://127.0.0.1:" + std::to_string(listener.Port()) + "/q";
    std::u16string url(narrow.begin(), narrow.end());
    WhoisRequest request(&sink, reinterpret_cast<LPCWSTR>(url.c_str()));
    request.SetTimeouts(300, WhoisRequest::ReceiveTimeout);
    ASSERT_EQ(request.Parse(), 1);
    ASSERT_EQ(request.Start(), 1);
    EXPECT_FALSE(sink.WaitForCompletion(100)) << "the connection is waited for, not refused";
    EXPECT_TRUE(sink.WaitForCompletion());
    request.Wait(INFINITE);
    EXPECT_EQ(request.GetExitCode(), DWORD(StatusConnectFailed));
    ByteBuffer* reply = request.GetStream()->GetIncoming();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply->GetData()), reply->GetLength()),
              StatusLines(StatusConnectFailed));
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
