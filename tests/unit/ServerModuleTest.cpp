#include "server/ClassFactory.h"

#include <gtest/gtest.h>

namespace {

const CLSID testClass = {0x11111111, 0x2222, 0x3333, {4, 5, 6, 7, 8, 9, 10, 11}};
const CLSID otherClass = {0x11111111, 0x2222, 0x3333, {4, 5, 6, 7, 8, 9, 10, 12}};

// A minimal instance: enough to see what the class object creates.
struct Instance : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};
Instance theInstance;
IUnknown* lastOuter = nullptr;

HRESULT createTestInstance(IUnknown* outer, REFIID, void** out) {
    lastOuter = outer;
    *out = &theInstance;
    return S_OK;
}

int classInits = 0;
void countClassInit(BOOL starting) {
    classInits += starting ? 1 : -1;
}

ObjectMapEntry testMap[] = {
    {&testClass, nullptr, ClassFactory::Create, createTestInstance, nullptr, nullptr, nullptr,
     countClassInit},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

class ServerModuleTest : public testing::Test {
protected:
    void SetUp() override { theModule.Initialize(testMap, nullptr); }
    void TearDown() override { theModule.Shutdown(); }
    ClassFactory* cached() { return static_cast<ClassFactory*>(testMap[0].classObject); }
};

TEST_F(ServerModuleTest, ClassObjectIsCreatedOnceAndCountsBeyondTheCache) {
    EXPECT_EQ(theModule.GetLockCount(), 0);
    EXPECT_EQ(classInits, 1);
    IClassFactory* first = nullptr;
    ASSERT_EQ(
        theModule.FindClassObject(testClass, IID_IClassFactory, reinterpret_cast<void**>(&first)),
        S_OK);
    EXPECT_EQ(cached()->GetRefCount(), 2);
    EXPECT_EQ(theModule.GetLockCount(), 1);

    IUnknown* second = nullptr;
    ASSERT_EQ(theModule.FindClassObject(testClass, IID_IUnknown, reinterpret_cast<void**>(&second)),
              S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first), second) << "the same cached object";
    EXPECT_EQ(theModule.GetLockCount(), 1) << "the lock is taken once, at 1 -> 2";
    second->Release();
    EXPECT_EQ(theModule.GetLockCount(), 1);
    first->Release();
    EXPECT_EQ(cached()->GetRefCount(), 1);
    EXPECT_EQ(theModule.GetLockCount(), 0);
}

TEST_F(ServerModuleTest, UnknownClassesAndInterfacesAreRefused) {
    void* out = &out;
    EXPECT_EQ(theModule.FindClassObject(otherClass, IID_IUnknown, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(theModule.FindClassObject(testClass, testClass, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_NE(testMap[0].classObject, nullptr) << "the class object stays cached";
    EXPECT_EQ(theModule.FindClassObject(testClass, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ServerModuleTest, CreateInstanceRefusesAggregationForOtherInterfaces) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        theModule.FindClassObject(testClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);
    void* out = &out;
    EXPECT_EQ(factory->CreateInstance(&theInstance, IID_IClassFactory, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(&theInstance, IID_IUnknown, &out), S_OK);
    EXPECT_EQ(lastOuter, &theInstance);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    factory->Release();
}

TEST_F(ServerModuleTest, LockServerCountsAndMayGoNegative) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        theModule.FindClassObject(testClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(theModule.GetLockCount(), 2);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(theModule.GetLockCount(), 0);
    theModule.DecrementLock();
    theModule.DecrementLock();
    EXPECT_EQ(theModule.GetLockCount(), -2);
    theModule.IncrementLock();
    theModule.IncrementLock();
}

TEST_F(ServerModuleTest, ShutdownReleasesTheCachedObjectOnce) {
    IUnknown* object = nullptr;
    ASSERT_EQ(theModule.FindClassObject(testClass, IID_IUnknown, reinterpret_cast<void**>(&object)),
              S_OK);
    object->Release();
    ASSERT_NE(testMap[0].classObject, nullptr);
    theModule.Shutdown();
    EXPECT_EQ(testMap[0].classObject, nullptr);
    EXPECT_EQ(classInits, 0);
    theModule.Initialize(testMap, nullptr); // for TearDown
}

} // namespace
