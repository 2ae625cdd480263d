// hollin.so as a host sees it: loaded with dlopen, reached only through its
// exports.
#include "ChildProcess.h"
#include "protocol/LocalFileProtocol.h"
#include "support/ProtocolScenario.h"
#include "support/SettingsOverride.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

namespace {

typedef HRESULT (*GetClassObjectFunction)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT (*CanUnloadNowFunction)();

// The library, loaded once for the whole test program.
struct Library {
    Library() {
        handle = dlopen(BuildFile("hollin.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            getClassObject =
                reinterpret_cast<GetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
            canUnloadNow = reinterpret_cast<CanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
        }
    }
    void* handle = nullptr;
    GetClassObjectFunction getClassObject = nullptr;
    CanUnloadNowFunction canUnloadNow = nullptr;
};

Library& library() {
    static Library loaded;
    return loaded;
}

IClassFactory* classObject() {
    IClassFactory* factory = nullptr;
    library().getClassObject(CLSID_LocalFileProtocol, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory));
    return factory;
}

HRESULT createThroughExports(IUnknown* outer, REFIID iid, void** out) {
    IClassFactory* factory = classObject();
    if (factory == nullptr) {
        return E_FAIL;
    }
    HRESULT result = factory->CreateInstance(outer, iid, out);
    factory->Release();
    return result;
}

bool libraryIdle() {
    return library().canUnloadNow() == S_OK;
}

const ObjectMaker sharedMaker = {"SharedLibrary", createThroughExports, libraryIdle};

INSTANTIATE_TEST_SUITE_P(SharedLibrary, ProtocolScenario, testing::Values(sharedMaker),
                         [](const testing::TestParamInfo<ObjectMaker>& info) {
                             return std::string(info.param.name);
                         });

class HollinLibrary : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(library().handle, nullptr) << dlerror();
        ASSERT_NE(library().getClassObject, nullptr);
        ASSERT_NE(library().canUnloadNow, nullptr);
        ASSERT_TRUE(WaitUntilIdle(sharedMaker));
    }
    HRESULT CanUnloadNow() { return library().canUnloadNow(); }
};

TEST_F(HollinLibrary, ExportsExactlyTheEntryPoints) {
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow"}) {
        EXPECT_NE(dlsym(library().handle, name), nullptr) << name;
    }
    for (const char* name : {"DllMain", "theModule", "objectMap", "CreateProtocolObject"}) {
        EXPECT_EQ(dlsym(library().handle, name), nullptr) << name << " stays inside";
    }
}

TEST_F(HollinLibrary, HeldClassObjectsAndProtocolObjectsKeepTheLibraryLoaded) {
    EXPECT_EQ(CanUnloadNow(), S_OK);
    IClassFactory* first = classObject();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    IClassFactory* second = classObject();
    EXPECT_EQ(first, second) << "one cached class object";
    second->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);

    IUnknown* object = nullptr;
    ASSERT_EQ(first->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
              S_OK);
    first->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "a live protocol object";
    object->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    IClassFactory* locked = classObject();
    locked->LockServer(TRUE);
    locked->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    locked = classObject();
    locked->LockServer(FALSE);
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the class object is still held";
    locked->LockServer(FALSE);
    locked->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "a count below 0 (one unlock too many) keeps it loaded";
    locked = classObject();
    locked->LockServer(TRUE);
    locked->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(HollinLibrary, UnknownClassesAndAggregationRules) {
    const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* out = &out;
    EXPECT_EQ(library().getClassObject(unknown, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(library().getClassObject(CLSID_LocalFileProtocol, IID_IInternetProtocol, &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    IClassFactory* factory = classObject();
    IUnknown* outer = factory; // any object can stand as the controlling unknown here
    out = &out;
    EXPECT_EQ(factory->CreateInstance(outer, IID_ILocalFileProtocol, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    void* protocol = nullptr;
    EXPECT_EQ(inner->QueryInterface(IID_IInternetProtocol, &protocol), S_OK);
    static_cast<IUnknown*>(protocol)->Release(); // a reference on the outer object
    EXPECT_EQ(inner->Release(), 0u);
    factory->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(HollinLibrary, ManyStartAbortStartCyclesOnOneObject) {
    LoopbackServer server(LoopbackServer::Action::Reply, "reply\n");
    // Every other cycle also runs a chain: a default server that refers on.
    LoopbackServer referring(LoopbackServer::Action::Reply,
                             "refer: 127.0.0.1:" + std::to_string(server.Port()) + "\n");
    SettingsOverride settings;
    settings.SetDefaultServer(referring.Port());
    Browser browser(sharedMaker);
    const std::string url = UrlFor(server, "cycle");
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(browser.Start(i % 10 == 0 ? "dnswhois:" : i % 2 ? "dnswhois:cycle" : url), S_OK);
        browser.protocol->Abort(E_ABORT, 0);
        browser.sink.ForgetCompletion();
        ASSERT_EQ(browser.Start(url), S_OK);
    }
    EXPECT_EQ(browser.Page().substr(PageHeader.size()), "reply\n" + PageTrailer);
    browser.Release();
    EXPECT_TRUE(WaitUntilIdle(sharedMaker)) << "every request cut loose has ended";
}

} // namespace
