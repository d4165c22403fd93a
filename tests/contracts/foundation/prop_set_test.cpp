#include "imgscope/contracts/foundation/prop_set.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using utl::CPropSet;
using SetPtr = boost::shared_ptr<CPropSet>;

const utl::CUnit kNone;

SetPtr MakeSet(std::vector<std::pair<int, mem::CBin>> const& values)
{
    SetPtr set(new CPropSet);
    for (auto const& v : values)
        set->SetProperty(v.first, v.second);
    return set;
}

TEST(PropSetTest, ListsIdsInAscendingOrderAndReplacesValues)
{
    CPropSet set;
    EXPECT_TRUE(set.SetProperty(2074, mem::CBin(8)));
    EXPECT_TRUE(set.SetProperty(-1, mem::CBin(1.0)));
    EXPECT_TRUE(set.SetProperty(10, mem::CBin(true)));
    EXPECT_TRUE(set.SetProperty(2074, mem::CBin(2)));
    EXPECT_EQ(set.GetPropertyList(), (std::vector<int>{-1, 10, 2074}));
    EXPECT_EQ(set.AccessProperty(2074)->GetOr(0), 2);

    // An empty value is refused and the stored one stays.
    EXPECT_FALSE(set.SetProperty(10, mem::CBin()));
    EXPECT_TRUE(set.AccessProperty(10)->Is<bool>());

    mem::CBin out(L"untouched");
    EXPECT_FALSE(set.GetProperty(99, out));
    EXPECT_EQ(out, mem::CBin(L"untouched"));
    unsigned typed = 5;  // 2074 holds an int, not an unsigned
    EXPECT_FALSE(set.GetValue(2074, typed));
    EXPECT_EQ(typed, 5u);
}

TEST(PropSetTest, MergeTakesTheOtherSetsValueWhereBothHoldAnId)
{
    CPropSet stack;  // the stack-level device properties
    stack.SetProperty(1, mem::CBin(L"stack only"));
    stack.SetProperty(120060, mem::CBin(10.0));
    CPropSet frame;
    frame.SetProperty(120060, mem::CBin(20.0, kNone));
    frame.SetProperty(3, mem::CBin(3));

    CPropSet merged = stack;
    merged.MergeProperties(frame);
    EXPECT_EQ(merged.GetPropertyList(), (std::vector<int>{1, 3, 120060}));
    EXPECT_EQ(*merged.AccessProperty(120060), mem::CBin(20.0, kNone));
    EXPECT_EQ(*merged.AccessProperty(1), mem::CBin(L"stack only"));
    EXPECT_EQ(stack.AccessProperty(120060)->GetOr(0.0), 10.0);  // the copy was independent

    CPropSet self = frame;
    self.MergeProperties(self);
    EXPECT_EQ(self, frame);
}

TEST(PropSetTest, SearchMatchesTheTypeCodeWithOrWithoutUnitDepthFirstInIdOrder)
{
    // Top level holds 120060 as an int: wrong type, so the nested sets are
    // searched, lower property IDs first and each one to its full depth.
    const SetPtr deep = MakeSet({{120060, mem::CBin(40.0, kNone)}});
    const SetPtr first = MakeSet({{5, mem::CBin(deep)}});
    const SetPtr second = MakeSet({{120060, mem::CBin(10.0)}});
    CPropSet layer;
    layer.SetProperty(120060, mem::CBin(1));
    layer.SetProperty(10048, mem::CBin(second));
    layer.SetProperty(100, mem::CBin(first));

    mem::CBin found;
    EXPECT_TRUE(layer.SearchProperty(120060, utl::eDouble, found) && found == mem::CBin(40.0, kNone));
    EXPECT_TRUE(layer.SearchProperty(120060, utl::eInt32, found) && found == mem::CBin(1));

    const mem::CBin before = found;
    EXPECT_FALSE(layer.SearchProperty(120060, utl::eFloat, found));
    EXPECT_FALSE(layer.SearchProperty(777, utl::eDouble, found));
    EXPECT_EQ(found, before);

    // A set that holds itself (directly or round a loop) ends the search.
    const SetPtr loopA(new CPropSet);
    const SetPtr loopB = MakeSet({{1, mem::CBin(loopA)}});
    loopA->SetProperty(1, mem::CBin(loopB));
    EXPECT_FALSE(loopA->SearchProperty(2, utl::eInt32, found));
    loopA->Clear();  // break the cycle so both sets are freed
}

TEST(PropSetTest, SearchFollowsNestingDeeperThanTheCallStackCouldGo)
{
    // 70000 sets, each holding the next; the value sits in the last one.
    SetPtr chain = MakeSet({{120060, mem::CBin(2.5)}});
    for (int i = 0; i < 70000; ++i)
        chain = MakeSet({{1, mem::CBin(chain)}, {3, mem::CBin(i)}});
    mem::CBin found;
    EXPECT_TRUE(chain->SearchProperty(120060, utl::eDouble, found) && found == mem::CBin(2.5));
    EXPECT_FALSE(chain->SearchProperty(120060, utl::eInt32, found));
    EXPECT_TRUE(chain->SearchProperty(3, utl::eInt32, found) && found == mem::CBin(69999)) << "the nearest first";
    chain.reset();  // and taking it apart does not recurse as deep either
}

TEST(PropSetTest, EqualityComparesNestedSetsByContent)
{
    CPropSet a;
    a.SetProperty(10048, mem::CBin(MakeSet({{120060, mem::CBin(20.0)}})));
    CPropSet b;
    b.SetProperty(10048, mem::CBin(MakeSet({{120060, mem::CBin(20.0)}})));
    EXPECT_EQ(a, b);
    b.AccessProperty(10048)->Set(MakeSet({{120060, mem::CBin(20.5)}}));
    EXPECT_NE(a, b);
    EXPECT_NE(mem::CBin(SetPtr()), mem::CBin(SetPtr(new CPropSet)));

    // Two separate cycles are never equal but the comparison ends.
    const SetPtr x(new CPropSet), y(new CPropSet);
    x->SetProperty(1, mem::CBin(x));
    y->SetProperty(1, mem::CBin(y));
    EXPECT_NE(*x, *y);
    x->Clear();
    y->Clear();
}

TEST(PropertyRegisterTest, NamesAnIdOnceAndRefusesConflicts)
{
    EXPECT_TRUE(utl::RegisterProperty(L"TestRegisterA", 900001, utl::eInt32));
    EXPECT_TRUE(utl::RegisterProperty(L"TestRegisterA", 900001, utl::eInt32));   // the same again
    EXPECT_FALSE(utl::RegisterProperty(L"TestRegisterA", 900001, utl::eDouble));  // another type
    EXPECT_FALSE(utl::RegisterProperty(L"TestRegisterB", 900001, utl::eInt32));  // the ID is taken
    EXPECT_FALSE(utl::RegisterProperty(L"TestRegisterA", 900002, utl::eInt32));  // the name is taken
    EXPECT_FALSE(utl::RegisterProperty(L"", 900003, utl::eInt32));

    CString name(L"kept");
    EXPECT_FALSE(utl::GetPropertyName(900002, name));
    EXPECT_TRUE(utl::GetPropertyName(900001, name) && name == L"TestRegisterA");
    EXPECT_EQ(utl::FindPropertyId(L"TestRegisterA"), 900001);
    EXPECT_EQ(utl::FindPropertyId(L"TestRegisterB"), -1);
}

}  // namespace
