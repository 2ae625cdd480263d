#include "support/RefObject.h"

#include <gtest/gtest.h>

namespace {

// Tells when it is destroyed, so self-deletion can be seen.
class Probe : public RefObject {
public:
    Probe(LONG deleteOnRelease, bool* destroyed)
        : RefObject(deleteOnRelease), destroyed(destroyed) {}
    ~Probe() override { *destroyed = true; }
    bool* destroyed;
};

TEST(RefObject, CountsReturnTheValueBeforeAddRefAndAfterRelease) {
    bool destroyed = false;
    Probe object(0, &destroyed);
    EXPECT_EQ(object.AddRef(), 0);
    EXPECT_EQ(object.AddRef(), 1);
    EXPECT_EQ(object.Release(), 1);
    EXPECT_EQ(object.Release(), 0);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(object.Release(), -1) << "nothing keeps a count from going below zero";
}

TEST(RefObject, DeleteOnReleaseDeletesAtZero) {
    bool destroyed = false;
    auto* object = new Probe(1, &destroyed);
    EXPECT_EQ(object->AddRef(), 0);
    EXPECT_EQ(object->Release(), 0);
    EXPECT_TRUE(destroyed);
}

TEST(RefObject, CopyStartsUncountedAndKeepsTheMode) {
    bool destroyed = false;
    auto* source = new Probe(1, &destroyed);
    source->AddRef();
    source->AddRef();
    source->AddRef();
    RefObject copy(*source);
    EXPECT_EQ(copy.GetRefCount(), 0);
    EXPECT_EQ(copy.DeletesOnRelease(), 1);
    source->Release();
    source->Release();
    source->Release();
    EXPECT_TRUE(destroyed);
}

TEST(RefObject, InterfaceZeroHoldsOneReferenceUntilReleased) {
    RefObject object;
    ObjectInterface* face = object.GetInterface(ObjectInterfaceId);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(object.GetRefCount(), 1);
    EXPECT_EQ(face->AddRef(), 1);
    EXPECT_EQ(face->Release(), 1);
    EXPECT_EQ(object.GetRefCount(), 1);
    EXPECT_EQ(face->Release(), 0);
    EXPECT_EQ(object.GetRefCount(), 0);
}

TEST(RefObject, UnknownIdsGiveNothingAndLeaveTheCount) {
    RefObject object;
    EXPECT_EQ(object.GetInterface(5), nullptr);
    EXPECT_EQ(object.GetInterface(NamedInterfaceId), nullptr);
    EXPECT_EQ(object.GetRefCount(), 0);
}

TEST(RefObject, InterfaceQueryAnswersNoIdAndLeadsToFreshInterfaces) {
    RefObject object;
    ObjectInterface* face = object.GetInterface(0);
    for (LONG id : {0, 17, 260, -1}) {
        void* out = &object;
        EXPECT_EQ(face->QueryInterface(id, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    ObjectInterface* other = face->GetInterface(0);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, face);
    EXPECT_EQ(other->TargetObject(), &object);
    EXPECT_EQ(object.GetRefCount(), 2);
    EXPECT_EQ(face->GetInterface(5), nullptr);
    other->Release();
    face->Release();
    EXPECT_EQ(object.GetRefCount(), 0);

    auto* detached = new ObjectInterface(nullptr);
    EXPECT_EQ(detached->GetInterface(0), nullptr);
    EXPECT_EQ(detached->Release(), 0);
}

} // namespace
