#include "toolkit/Folder.h"
#include "toolkit/NameComparator.h"
#include "toolkit/Sentinels.h"

#include <gtest/gtest.h>

namespace {

// Accepts only records.
class RecordsOnly : public NameComparator {
public:
    LONG Accept(RefObject* item) override { return dynamic_cast<Record*>(item) != nullptr; }
};

TEST(Sentinels, AreEmptyNamelessAndNull) {
    EXPECT_EQ(NullFolder.GetName(), nullptr);
    EXPECT_EQ(NullFolder.IsNull(), 1);
    EXPECT_EQ(NullFolder.IsRecord(), 0);
    EXPECT_EQ(NullFolder.IsFileBacked(), 0);
    EXPECT_EQ(NullRecord.IsNull(), 1);
    EXPECT_EQ(NullRecord.IsRecord(), 1);
    EXPECT_EQ(NullRecord.GetCount(), 0);
    EXPECT_EQ(NullValue.IsNull(), 1);
    EXPECT_EQ(NullValue.GetName(), nullptr);
}

TEST(Folder, LookupsAnswerTheKindAskedForOrASentinel) {
    Folder root("root");
    root.AddRecord("R");
    root.AddFolder("Sub");
    EXPECT_EQ(root.RecordByName("sub"), &NullRecord);
    EXPECT_EQ(root.FolderByName("SUB"), root.GetAt(2));
    EXPECT_EQ(root.RecordAt(1), root.GetAt(1));
    EXPECT_EQ(root.FolderAt(1), &NullFolder);
    EXPECT_EQ(root.RecordAt(9), &NullRecord);
    EXPECT_EQ(root.RecordByName(nullptr), &NullRecord);
    EXPECT_EQ(root.RecordAt(1)->ValueAt(1), &NullValue);
}

TEST(Folder, GetOrAddFindsTheSameItemAndRefusesTheOtherKind) {
    Folder root;
    LONG index = 0;
    Record* record = root.GetOrAddRecord("Rec", &index);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(root.GetOrAddRecord("REC"), record);
    EXPECT_EQ(root.GetOrAddFolder("rec"), nullptr);
    EXPECT_EQ(root.AddFolder("rec"), &root) << "returns the folder whatever happened";
    EXPECT_EQ(root.GetCount(), 1);

    Record* nameless1 = root.GetOrAddRecord(nullptr);
    Record* nameless2 = root.GetOrAddRecord("");
    EXPECT_NE(nameless1, nameless2) << "no name never matches";
    EXPECT_EQ(root.GetCount(), 3);

    root.RemoveAt(1);
    root.GetOrAddFolder("new", &index);
    EXPECT_EQ(index, 1) << "the lowest empty slot first";
}

TEST(Folder, TypedWritesAddressRecordsByName) {
    Folder root;
    EXPECT_EQ(root.AddInt("R", 2, "a"), 1);
    EXPECT_EQ(root.AddInt("R", 1, "a"), 1);
    Record* r = root.RecordByName("R");
    ASSERT_EQ(r->GetCount(), 2);
    EXPECT_EQ(r->ValueAt(1)->GetInt(), 2);
    EXPECT_EQ(r->ValueByName("A")->GetInt(), 2) << "the first of the name";

    EXPECT_EQ(root.SetInt("S", 5), 1);
    EXPECT_EQ(root.SetInt("S", 6), 1);
    Record* s = root.RecordByName("S");
    EXPECT_EQ(s->GetCount(), 1);
    EXPECT_EQ(s->GetInt(), 6);
    EXPECT_EQ(s->ValueAt(1)->GetName(), nullptr);

    root.AddFolder("F");
    EXPECT_EQ(root.AddString("F", "x", nullptr), 0);
    EXPECT_EQ(root.SetDouble("f", 1.0), 0);
    EXPECT_EQ(root.FolderByName("F")->GetCount(), 0);
}

TEST(Record, TypedAccessUsesTheFirstValueOfEachType) {
    Record record("r");
    EXPECT_STREQ(record.GetString(), "") << "never null";
    EXPECT_EQ(record.GetBytes(), nullptr);
    record.AddInt("n", 1)->AddString("", "one")->AddInt64(nullptr, 7)->AddInt("m", 2);
    EXPECT_EQ(record.GetInt(), 1);
    EXPECT_EQ(record.IndexOfType(TypeInt64), 3);
    EXPECT_EQ(record.IndexOfType(TypeDouble), 0);
    EXPECT_EQ(record.ValueAt(2)->GetName(), nullptr) << "an empty value name is no name";
    record.SetString("two");
    EXPECT_STREQ(record.GetString(), "two");
    record.SetFloat(1.5f)->SetDouble(2.5);
    EXPECT_EQ(record.GetFloat(), 1.5f);
    EXPECT_EQ(record.GetDouble(), 2.5);
    EXPECT_EQ(record.GetCount(), 6);
}

TEST(Record, SetBytesReplacesTheFirstBytesValueEvenFromItsOwnBlock) {
    Record record;
    const BYTE data[] = {1, 2, 3, 4};
    record.AddInt("n", 1)->AddBytes("raw", data, 4)->AddInt("m", 2);
    record.SetBytes(record.GetBytes() + 1, 2); // from the block being replaced
    EXPECT_EQ(record.GetCount(), 3);
    EXPECT_EQ(record.IndexOfType(TypeBytes), 2) << "into the slot just freed";
    ASSERT_EQ(record.GetBytesSize(), 2);
    EXPECT_EQ(record.GetBytes()[0], 2);
    EXPECT_EQ(record.GetBytes()[1], 3);
    EXPECT_EQ(record.ValueAt(2)->GetName(), nullptr);
    ASSERT_NE(record.ResizeBytes(3), nullptr);
    EXPECT_EQ(record.GetBytesSize(), 3);
}

TEST(Folder, FindRecordBySkipsNullRecordsAndMatchesMissingValuesAsZero) {
    Folder root;
    root.AddInt("zero", 0, nullptr);
    root.AddString("text", "Hello", nullptr);
    root.AddInt("three", 3, nullptr);
    root.AddDouble("d", 0.5, nullptr);
    root.AddInt64("big", 1LL << 40, nullptr);
    root.AddFloat("f", 0.25f, nullptr);
    EXPECT_STREQ(root.FindRecordByInt(3)->GetName(), "three");
    EXPECT_STREQ(root.FindRecordByString("HELLO")->GetName(), "text");
    EXPECT_STREQ(root.FindRecordByString("")->GetName(), "zero") << "no string reads as empty";
    EXPECT_STREQ(root.FindRecordByDouble(0.5)->GetName(), "d");
    EXPECT_STREQ(root.FindRecordByInt64(1LL << 40)->GetName(), "big");
    EXPECT_STREQ(root.FindRecordByFloat(0.25f)->GetName(), "f");
    EXPECT_EQ(root.FindRecordByInt(4), &NullRecord);

    root.RecordByName("zero")->SetNull();
    EXPECT_STREQ(root.FindRecordByInt(0)->GetName(), "text") << "no int reads as 0";
    EXPECT_EQ(root.RecordAt(1)->IsNull(), 1) << "a null record stays in its slot";
}

TEST(Folder, FilterClonesTheAcceptedItemsWithoutGaps) {
    Folder root("root");
    root.AddInt("a", 1, nullptr);
    root.AddRecord("gone");
    root.AddFolder("sub");
    root.FolderByName("sub")->AddInt("deep", 2, nullptr);
    root.RemoveByName("gone");

    NameComparator all;
    auto* accept = static_cast<ComparatorInterface*>(all.GetInterface(ComparatorInterfaceId));
    Folder* copy = root.Filter(accept);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->GetName(), "root");
    EXPECT_EQ(copy->GetCount(), 2);
    Folder* sub = copy->FolderAt(2);
    EXPECT_NE(sub, root.FolderByName("sub")) << "a deep copy";
    EXPECT_EQ(sub->RecordByName("deep")->GetInt(), 2);
    delete copy;
    accept->Release();

    RecordsOnly records;
    accept = static_cast<ComparatorInterface*>(records.GetInterface(ComparatorInterfaceId));
    copy = root.Filter(accept);
    EXPECT_EQ(copy->GetCount(), 1);
    delete copy;
    accept->Release();
}

TEST(Folder, CloneIsDeepAndKeepsFlags) {
    Folder root("path");
    root.SetFileBacked(1);
    root.AddFolder("sub");
    root.FolderByName("sub")->SetNull();
    root.AddBytes("r", "xy", 2, "raw");
    auto* copy = static_cast<Folder*>(root.Clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->IsFileBacked(), 1);
    EXPECT_EQ(copy->FolderAt(1)->IsNull(), 1);
    EXPECT_NE(copy->RecordAt(2)->GetBytes(), root.RecordAt(2)->GetBytes());
    EXPECT_EQ(copy->RecordAt(2)->GetBytesSize(), 2);
    delete copy;
}

TEST(Folder, InterfacesForwardAndAnswerTheirChain) {
    Folder root;
    auto* folder = static_cast<FolderInterface*>(root.GetInterface(FolderInterfaceId));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->AddInt("r", 4, nullptr), 1);
    EXPECT_EQ(folder->RecordByName("r")->GetInt(), 4);
    EXPECT_EQ(folder->IsNull(), 0);
    EXPECT_EQ(folder->GetCount(), 1);
    EXPECT_EQ(folder->RemoveByName("R"), 1);
    folder->Release();

    Record record;
    EXPECT_EQ(record.GetInterface(FolderInterfaceId), nullptr);
    auto* values = static_cast<RecordInterface*>(record.GetInterface(RecordInterfaceId));
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values->Add(new TypedValue(3)), 1);
    EXPECT_EQ(values->GetInt(), 3);
    ObjectInterface* node = values->GetInterface(NodeInterfaceId);
    ASSERT_NE(node, nullptr);
    static_cast<NodeInterface*>(node)->SetNull();
    EXPECT_EQ(record.IsNull(), 1);
    node->Release();
    values->Release();
    EXPECT_EQ(record.GetRefCount(), 0);
}

} // namespace
