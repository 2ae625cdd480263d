#include "toolkit/Collection.h"
#include "toolkit/NameComparator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

NamedObject* Item(LPCSTR name) {
    return new NamedObject(name);
}

// The slots as text: names, "-" for an empty slot, "?" for a nameless item.
std::string Slots(const Collection& items) {
    std::string text;
    for (LONG i = 1; i <= items.GetCount(); ++i) {
        NamedObject* item = items.GetAt(i);
        text += item == nullptr ? "-" : (item->GetName() != nullptr ? item->GetName() : "?");
    }
    return text;
}

// Orders by the length of the name, to sort by something other than names.
class ByLength : public Comparator {
public:
    LONG GreaterOrEqual(RefObject* a, RefObject* b) override { return Length(a) >= Length(b); }
    LONG Equal(RefObject* a, RefObject* b) override { return Length(a) == Length(b); }

private:
    static size_t Length(RefObject* object) {
        auto* named = static_cast<NamedObject*>(object);
        return named != nullptr && named->GetName() != nullptr
                   ? std::string(named->GetName()).size()
                   : 0;
    }
};

TEST(NamedObject, KeepsACopyOfItsNameAndNeverAnEmptyOne) {
    NamedObject object("Alpha");
    EXPECT_EQ(object.NameEquals("ALPHA"), 1);
    EXPECT_EQ(object.MatchName("alpha"), &object);
    EXPECT_EQ(object.MatchName("beta"), nullptr);
    object.SetName(object.GetName()); // its own name: must not read freed memory
    EXPECT_STREQ(object.GetName(), "Alpha");
    object.SetName("");
    EXPECT_EQ(object.GetName(), nullptr);
    EXPECT_EQ(object.NameEquals(nullptr), 0) << "a nameless object matches nothing";
}

TEST(Collection, AddsIntoTheLowestEmptySlotElseAtTheEnd) {
    Collection items;
    EXPECT_EQ(items.Add(Item("a")), 1);
    EXPECT_EQ(items.Add(Item("b")), 2);
    EXPECT_EQ(items.Add(Item("c")), 3);
    EXPECT_EQ(items.Add(nullptr), 0);

    EXPECT_EQ(items.RemoveAt(1), 1);
    EXPECT_EQ(items.RemoveAt(1), 0) << "already empty";
    EXPECT_EQ(items.RemoveAt(4), 0);
    EXPECT_EQ(items.GetCount(), 3) << "a removal leaves its slot";
    EXPECT_EQ(items.FirstFree(), 1);
    EXPECT_EQ(items.GetAt(1), nullptr);
    EXPECT_EQ(items.RemoveByName("C"), 3);
    EXPECT_EQ(items.FirstFree(), 1);

    EXPECT_EQ(items.Add(Item("x")), 1);
    EXPECT_EQ(items.FirstFree(), 3);
    EXPECT_EQ(items.Add(Item("y")), 3);
    EXPECT_EQ(items.FirstFree(), 0);
    EXPECT_EQ(items.Add(Item("z")), 4);
    EXPECT_EQ(Slots(items), "xbyz");
}

TEST(Collection, ReplaceHandsTheOldItemBackAndSetDeletesIt) {
    Collection items;
    items.Add(Item("a"));
    items.Add(Item("b"));
    NamedObject* b = items.GetAt(2);
    EXPECT_EQ(items.ReplaceAt(2, nullptr), b);
    EXPECT_EQ(items.FirstFree(), 2);
    EXPECT_EQ(items.ReplaceAt(3, b), nullptr) << "out of range";
    EXPECT_EQ(items.ReplaceAt(2, b), nullptr) << "the slot was empty";
    EXPECT_EQ(items.FirstFree(), 0);

    EXPECT_EQ(items.SetAt(2, b), 2) << "storing what the slot holds keeps it alive";
    EXPECT_STREQ(items.GetAt(2)->GetName(), "b");
    EXPECT_EQ(items.SetByName("A", Item("c")), 1);
    NamedObject* refused = Item("refused");
    EXPECT_EQ(items.SetAt(0, refused), 0);
    delete refused; // a refused item stays the caller's
    EXPECT_EQ(Slots(items), "cb");
}

TEST(Collection, CopyFormsCloneOnlyWhereThereIsASlot) {
    NamedObject source("copy");
    auto* named = static_cast<NamedInterface*>(source.GetInterface(NamedInterfaceId));
    ASSERT_NE(named, nullptr);
    Collection items;
    EXPECT_EQ(items.AddCopy(named), 1);
    EXPECT_NE(items.GetAt(1), &source);
    EXPECT_EQ(items.ReplaceCopyAt(5, named), nullptr);
    EXPECT_EQ(items.SetCopyAt(5, named), 0);
    EXPECT_EQ(items.ReplaceCopyByName("absent", named), nullptr);
    EXPECT_EQ(items.SetCopyByName("COPY", named), 1);
    EXPECT_EQ(items.AddCopy(nullptr), 0);
    EXPECT_EQ(items.GetCount(), 1);
    named->Release();
    EXPECT_EQ(source.GetRefCount(), 0);
}

TEST(Collection, CompactDropsTheEmptySlotsInOrder) {
    Collection items;
    items.Add(Item("A"));
    items.Add(Item("x"));
    items.Add(Item("B"));
    items.Add(Item("y"));
    items.RemoveAt(2);
    items.RemoveAt(4);
    EXPECT_EQ(items.Compact(), 2);
    EXPECT_EQ(Slots(items), "AB");
    EXPECT_EQ(items.FirstFree(), 0);
    EXPECT_EQ(items.Add(Item("C")), 3);

    Collection single;
    single.Add(Item("only"));
    single.RemoveAt(1);
    EXPECT_EQ(single.Compact(), 0);
    EXPECT_EQ(single.GetCount(), 0);
    EXPECT_EQ(single.Add(Item("again")), 1);
}

TEST(Collection, LooksUpTheFirstItemOfANameInAnyLetterCase) {
    Collection items;
    items.Add(new NamedObject());
    items.Add(Item("Key"));
    items.Add(Item("key"));
    EXPECT_EQ(items.IndexOf("KEY"), 2);
    EXPECT_EQ(items.GetByName("kEy"), items.GetAt(2));
    EXPECT_EQ(items.IndexOf(nullptr), 0);
    EXPECT_EQ(items.IndexOf(""), 0) << "nameless items never match";
    EXPECT_EQ(items.IndexOf("other"), 0);
    EXPECT_EQ(items.RemoveItem(items.GetAt(3)), 3);
    EXPECT_EQ(items.RemoveItem(items.GetAt(3)), 0);
}

TEST(Collection, SwapNeedsBothIndicesInRangeAndKeepsFirstFreeRight) {
    Collection items;
    items.Add(Item("a"));
    items.Add(Item("b"));
    items.Add(Item("c"));
    EXPECT_EQ(items.Swap(1, 5), 0);
    EXPECT_EQ(Slots(items), "abc");
    items.RemoveAt(1);
    EXPECT_EQ(items.Swap(1, 3), 1);
    EXPECT_EQ(Slots(items), "cb-");
    EXPECT_EQ(items.FirstFree(), 3);
    EXPECT_EQ(items.SwapByName("C", "b"), 1);
    EXPECT_EQ(Slots(items), "bc-");
}

TEST(Collection, SortsByNameWithoutAComparator) {
    Collection items;
    items.Add(Item("b"));
    items.Add(Item("x"));
    items.Add(Item("a"));
    items.RemoveAt(2);
    EXPECT_EQ(items.Sort(nullptr, 0), 0);
    EXPECT_EQ(Slots(items), "-ab") << "empty slots lead an ascending sort";
    EXPECT_EQ(items.FirstFree(), 1);
    items.Sort(nullptr, 1);
    EXPECT_EQ(Slots(items), "ba-");
    EXPECT_EQ(items.FirstFree(), 3);

    Collection withNameless;
    withNameless.Add(new NamedObject());
    withNameless.Add(Item("Zed"));
    withNameless.Add(Item("alpha"));
    withNameless.Sort(nullptr, 0);
    EXPECT_EQ(Slots(withNameless), "alphaZed?") << "case-insensitive; nameless after named";
}

TEST(Collection, SortsWithTheComparatorGiven) {
    Collection items;
    items.Add(Item("ccc"));
    items.Add(Item("a"));
    items.Add(Item("bb"));
    ByLength byLength;
    items.Sort(&byLength, 0);
    EXPECT_EQ(Slots(items), "abbccc");
    items.Sort(&byLength, 1);
    EXPECT_EQ(Slots(items), "cccbba");
}

TEST(Collection, ACopyClonesTheItemsWithoutTheEmptySlots) {
    Collection items("list");
    items.Add(Item("a"));
    items.Add(Item("gone"));
    items.Add(Item("b"));
    items.RemoveAt(2);
    Collection* copy = static_cast<Collection*>(items.Clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->GetName(), "list");
    EXPECT_EQ(Slots(*copy), "ab");
    EXPECT_NE(copy->GetAt(1), items.GetAt(1));
    delete copy;
}

TEST(NameComparator, OrdersByNameWithTheNamelessAboveAndNonNamesBelow) {
    NameComparator byName;
    NamedObject upper("ABC");
    NamedObject lower("abc");
    NamedObject later("abd");
    NamedObject nameless;
    RefObject plain;
    EXPECT_EQ(byName.Max(&upper, &lower), &upper) << "equal names: the first wins";
    EXPECT_EQ(byName.Min(&upper, &lower), &upper);
    EXPECT_EQ(byName.Less(&lower, &later), 1);
    EXPECT_EQ(byName.Greater(&later, &upper), 1);
    EXPECT_EQ(byName.GreaterOrEqual(&nameless, &later), 1);
    EXPECT_EQ(byName.GreaterOrEqual(&later, &nameless), 0);
    EXPECT_EQ(byName.GreaterOrEqual(&plain, nullptr), 0);
    EXPECT_EQ(byName.GreaterOrEqual(&nameless, &plain), 1);
    EXPECT_EQ(byName.Equal(&plain, nullptr), 1);
    EXPECT_EQ(byName.Equal(&nameless, &upper), 0);
    EXPECT_EQ(byName.Accept(&plain), 1);
    EXPECT_EQ(upper.GetRefCount(), 0) << "the name interfaces are released";
}

TEST(Interfaces, EachClassAnswersItsOwnIdAndThoseOfItsBases) {
    NamedObject named("n");
    Collection collection;
    NameComparator comparator;
    struct Case {
        RefObject* object;
        LONG id;
        bool answered;
    } cases[] = {
        {&named, ObjectInterfaceId, true},          {&named, NamedInterfaceId, true},
        {&named, CollectionInterfaceId, false},     {&collection, NamedInterfaceId, true},
        {&collection, CollectionInterfaceId, true}, {&collection, NodeInterfaceId, false},
        {&comparator, ComparatorInterfaceId, true}, {&comparator, NamedInterfaceId, false},
    };
    for (const Case& c : cases) {
        ObjectInterface* found = c.object->GetInterface(c.id);
        EXPECT_EQ(found != nullptr, c.answered) << "id " << c.id;
        if (found != nullptr) {
            EXPECT_EQ(c.object->GetRefCount(), 1);
            found->Release();
        }
        EXPECT_EQ(c.object->GetRefCount(), 0);
    }
}

TEST(Interfaces, SlotsForwardToTheObject) {
    Collection collection;
    auto* items = static_cast<CollectionInterface*>(collection.GetInterface(CollectionInterfaceId));
    ASSERT_NE(items, nullptr);
    EXPECT_EQ(items->Add(Item("a")), 1);
    EXPECT_EQ(items->GetCount(), 1);
    items->SetName("list");
    EXPECT_STREQ(collection.GetName(), "list");
    NamedObject* copy = items->Clone();
    EXPECT_STREQ(copy->GetName(), "list");
    delete copy;
    items->Release();

    NameComparator byName;
    auto* comparing = static_cast<ComparatorInterface*>(byName.GetInterface(ComparatorInterfaceId));
    ASSERT_NE(comparing, nullptr);
    NamedObject a("a");
    NamedObject b("b");
    EXPECT_EQ(comparing->Min(&b, &a), &a);
    EXPECT_EQ(comparing->LessOrEqual(&a, &b), 1);
    comparing->Release();
}

} // namespace
