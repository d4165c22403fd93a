// Properties at every level, the merge loop, the address split, blobs and
// device properties.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <vector>

namespace imgscope_test {
namespace {

utl::CPropSet MakeSet(std::vector<std::pair<int, int>> const& values)
{
    utl::CPropSet set;
    for (auto const& [id, value] : values)
        set.SetValue(id, value);
    return set;
}

class PropertiesTest : public ::testing::Test {
protected:
    PropertiesTest()
    {
        layer = AddRasterLayer(doc, {8, 8, 3, 3});
        plane = img::CDisplProcessFlow(doc, false).FindLayer(layer);
        group = img::CDisplProcessFlow(doc, false).InsertGroup(-1, -3);
        unknown = UnknownLayer(doc);
    }

    img::CStack Stack() const { return doc.FindStack(layer); }

    img::CImg doc;
    int layer = -1;  // order 2: frames (0..2, 0..2)
    int plane = -1;
    int group = -1;
    int unknown = -1;
    TestScope scope{doc};
};

TEST_F(PropertiesTest, AddressSplitWritesDocumentStackOrFrame)
{
    ASSERT_NE(layer, -1);
    mem::CBin const value(3.25);

    EXPECT_TRUE(scope.SetProperty(geo::CiVecN{}, 600, value));
    EXPECT_TRUE(doc.PropertyExists(600));
    EXPECT_FALSE(Stack().PropertyExists(600));

    EXPECT_TRUE(scope.SetProperty(geo::CiVecN{layer}, 601, value));
    EXPECT_TRUE(Stack().PropertyExists(601));
    EXPECT_FALSE(doc.PropertyExists(601));

    EXPECT_TRUE(scope.SetProperty(geo::CiVecN{layer, 2, 0}, 602, value));
    mem::CBin stored;
    EXPECT_TRUE(Stack().GetProperty(utl::CIndexN{2, 0}, 602, stored) && stored == value);
    EXPECT_FALSE(Stack().PropertyExists(utl::CIndexN{0, 2}, 602)) << "components keep their order";
    EXPECT_FALSE(Stack().PropertyExists(602));
    EXPECT_TRUE(scope.PropertyExists(geo::CiVecN{layer, 2, 0}, 602));
    EXPECT_FALSE(scope.PropertyExists(geo::CiVecN{layer, 0, 2}, 602));
    EXPECT_FALSE(scope.PropertyExists(geo::CiVecN{layer}, 600));

    // A first component that is no layer fails whatever follows.
    for (geo::CiVecN const& address : {geo::CiVecN{unknown}, geo::CiVecN{unknown, 0, 0}, geo::CiVecN{plane},
                                       geo::CiVecN{-1, 2, 0}}) {
        EXPECT_FALSE(scope.SetProperty(address, 603, value));
        EXPECT_FALSE(scope.PropertyExists(address, 603));
    }
    EXPECT_FALSE(doc.PropertyExists(603));
}

TEST_F(PropertiesTest, EmptyFrameIndexMeansStackForSetAndExistsButGoesOnForGet)
{
    EXPECT_TRUE(scope.SetProperty(layer, geo::CiVecN{}, 610, mem::CBin(1)));
    EXPECT_TRUE(Stack().PropertyExists(610));
    EXPECT_TRUE(scope.PropertyExists(layer, geo::CiVecN{}, 610));
    EXPECT_TRUE(scope.SetProperty(layer, geo::CiVecN{1, 1}, 611, mem::CBin(2)));
    EXPECT_FALSE(scope.PropertyExists(layer, geo::CiVecN{}, 611));

    // GetProperties passes the empty index to the stack, which answers with
    // its own set.
    utl::CPropSet props = MakeSet({{1, 1}});
    EXPECT_TRUE(scope.GetProperties(layer, geo::CiVecN{}, props) && props == Stack().GetPropset());
    utl::CPropSet replaced = MakeSet({{42, 42}});
    EXPECT_TRUE(scope.GetProperties(layer, replaced));
    EXPECT_EQ(replaced, Stack().GetPropset()) << "the stack's set replaces the caller's";

    utl::CPropSet frame;
    EXPECT_TRUE(scope.GetProperties(layer, geo::CiVecN{1, 1}, frame));
    EXPECT_TRUE(frame.PropertyExists(611));
    EXPECT_FALSE(frame.PropertyExists(610));

    // An index the stack refuses leaves the caller's set alone.
    utl::CPropSet untouched = MakeSet({{5, 5}});
    EXPECT_FALSE(scope.GetProperties(layer, geo::CiVecN{1}, untouched));
    EXPECT_EQ(untouched, MakeSet({{5, 5}}));
}

TEST_F(PropertiesTest, UnresolvedIdentifiersFailAndLeaveOutParametersAlone)
{
    utl::CPropSet const sentinelSet = MakeSet({{9, 9}});
    mem::CBin const sentinelBin(CString(L"keep"));
    std::vector<int> const bad = {unknown, 0, -1, INT_MIN, INT_MAX, plane, group};
    for (int id : bad) {
        SCOPED_TRACE(id);
        utl::CPropSet set = sentinelSet;
        mem::CBin bin = sentinelBin;
        EXPECT_FALSE(scope.GetProperties(id, set));
        EXPECT_FALSE(scope.GetProperties(id, geo::CiVecN{0, 0}, set));
        EXPECT_FALSE(scope.GetProperties(id, geo::CiVecN{}, set));
        EXPECT_FALSE(scope.GetDeviceProperties(id, geo::CiVecN{0, 0}, set));
        EXPECT_FALSE(scope.GetBlob(id, 1, bin));
        EXPECT_EQ(set, sentinelSet);
        EXPECT_EQ(bin, sentinelBin);

        EXPECT_FALSE(scope.SetProperty(id, 630, mem::CBin(1)));
        EXPECT_FALSE(scope.SetProperty(id, geo::CiVecN{0, 0}, 630, mem::CBin(1)));
        EXPECT_FALSE(scope.PropertyExists(id, 630));
        EXPECT_FALSE(scope.PropertyExists(id, geo::CiVecN{}, 630));
        EXPECT_FALSE(scope.SetDeviceProperties(id, geo::CiVecN{}, sentinelSet));
        EXPECT_FALSE(scope.SetBlob(id, 1, sentinelBin));
        EXPECT_FALSE(scope.DelBlob(id, 1));
        EXPECT_FALSE(scope.HasBlob(id, 1));
    }
    EXPECT_FALSE(doc.PropertyExists(630));
}

TEST_F(PropertiesTest, MergeLoopOfAnEmptySetSucceedsEvenForUnknownLayers)
{
    utl::CPropSet const empty;
    for (int id : {layer, unknown}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(scope.SetProperties(id, empty));
        EXPECT_TRUE(scope.SetProperties(id, geo::CiVecN{1, 1}, empty));
        EXPECT_TRUE(scope.SetProperties(geo::CiVecN{id, 1, 1}, empty));
    }
    EXPECT_TRUE(scope.SetProperties(empty));
    EXPECT_TRUE(scope.SetProperties(geo::CiVecN{}, empty));

    utl::CPropSet const some = MakeSet({{640, 1}, {641, 2}});
    EXPECT_FALSE(scope.SetProperties(unknown, some));
    EXPECT_FALSE(scope.SetProperties(geo::CiVecN{unknown}, some));
    EXPECT_TRUE(scope.SetProperties(geo::CiVecN{layer, 0, 1}, some));
    utl::CPropSet frame;
    EXPECT_TRUE(Stack().GetProperties(utl::CIndexN{0, 1}, frame) && frame == some);
}

TEST_F(PropertiesTest, MergeLoopStopsAtFirstRefusedWriteAndKeepsEarlierOnes)
{
    // Each write resolves the layer anew: once the layer disappears after
    // the first write, the second write fails and the third is not tried.
    img::CStack const kept = Stack();
    int writes = 0;
    int const subscription = doc.Subscribe([&](img::EChange change) {
        if (change == img::eChangeProperties && ++writes == 1)
            doc.Remove(layer);
    });
    EXPECT_FALSE(scope.SetProperties(layer, MakeSet({{650, 1}, {651, 2}, {652, 3}})));
    doc.Unsubscribe(subscription);
    EXPECT_EQ(writes, 1);
    EXPECT_FALSE(scope.HasLayer(layer));
    EXPECT_TRUE(kept.PropertyExists(650));
    EXPECT_FALSE(kept.PropertyExists(651));
    EXPECT_FALSE(kept.PropertyExists(652));
}

TEST_F(PropertiesTest, GroupPropertiesNeedAGroup)
{
    img::CDisplProcessFlow const observer(doc, false);
    EXPECT_TRUE(scope.SetGroupProperty(group, 660, mem::CBin(1)));
    EXPECT_TRUE(observer.PropertyExists(group, -1, 660));
    EXPECT_TRUE(scope.GroupPropertyExists(group, 660));
    EXPECT_FALSE(scope.GroupPropertyExists(group, 661));

    // A layer's entry is a plane but no group; a layer ID is neither.
    for (int id : {plane, layer, unknown, -1, observer.RootId()}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(scope.SetGroupProperty(id, 662, mem::CBin(1)));
        EXPECT_FALSE(scope.GroupPropertyExists(id, 660));
    }
    EXPECT_FALSE(observer.PropertyExists(plane, -1, 662));
}

TEST_F(PropertiesTest, HasBlobAgreesWithGetBlobAndDelBlobAlwaysSucceeds)
{
    mem::CBin const value(geo::CiRect(1, 2, 3, 4));
    ASSERT_TRUE(scope.SetBlob(layer, 3, value));

    for (int blob : {3, 4, -1, 0}) {
        SCOPED_TRACE(blob);
        mem::CBin out(5);
        bool const got = scope.GetBlob(layer, blob, out);
        EXPECT_EQ(scope.HasBlob(layer, blob), got);
        EXPECT_EQ(out, got ? value : mem::CBin(5));
    }
    EXPECT_TRUE(scope.HasBlob(layer, 3));

    EXPECT_TRUE(scope.DelBlob(layer, 3));
    EXPECT_FALSE(scope.HasBlob(layer, 3));
    EXPECT_TRUE(scope.DelBlob(layer, 3)) << "nothing left to delete is still success";
    EXPECT_TRUE(scope.DelBlob(layer, 77));
}

class DevicePropertiesTest : public PropertiesTest {
protected:
    utl::CPropSet const a = MakeSet({{1, 10}, {2, 20}});
    utl::CPropSet const b = MakeSet({{2, 200}, {3, 300}});
};

TEST_F(DevicePropertiesTest, FrameSetIsMergedOverACopyOfTheStackSet)
{
    utl::CPropSet mine = a;
    ASSERT_TRUE(scope.SetDeviceProperties(layer, geo::CiVecN{}, mine));
    ASSERT_TRUE(scope.SetDeviceProperties(layer, geo::CiVecN{1, 0}, b));
    mine.SetValue(1, -1);  // the stored set is a copy
    mine.SetValue(5, 5);

    utl::CPropSet out = MakeSet({{99, 99}});
    EXPECT_TRUE(scope.GetDeviceProperties(layer, geo::CiVecN{1, 0}, out));
    EXPECT_EQ(out, MakeSet({{1, 10}, {2, 200}, {3, 300}})) << "the stack set replaces what the caller held";
    EXPECT_TRUE(scope.GetDeviceProperties(layer, geo::CiVecN{2, 1}, out) && out == a);
    mem::CBin stored;
    ASSERT_TRUE(Stack().GetProperty(10048, stored));
    EXPECT_TRUE(stored.Is<boost::shared_ptr<utl::CPropSet>>()) << "one property-set value";
}

TEST_F(DevicePropertiesTest, FrameSetAloneIsMergedIntoWhatTheCallerHeld)
{
    utl::CPropSet none = MakeSet({{7, 7}});
    EXPECT_FALSE(scope.GetDeviceProperties(layer, geo::CiVecN{1, 0}, none)) << "no set anywhere";
    EXPECT_FALSE(scope.GetDeviceProperties(layer, geo::CiVecN{}, none));
    EXPECT_EQ(none, MakeSet({{7, 7}}));

    ASSERT_TRUE(scope.SetDeviceProperties(layer, geo::CiVecN{0, 1}, b));
    utl::CPropSet out = MakeSet({{2, 2}, {8, 8}});
    EXPECT_TRUE(scope.GetDeviceProperties(layer, geo::CiVecN{0, 1}, out));
    EXPECT_EQ(out, MakeSet({{2, 200}, {3, 300}, {8, 8}}));

    utl::CPropSet elsewhere = MakeSet({{7, 7}});
    EXPECT_FALSE(scope.GetDeviceProperties(layer, geo::CiVecN{1, 1}, elsewhere));
    EXPECT_EQ(elsewhere, MakeSet({{7, 7}}));
}

}  // namespace
}  // namespace imgscope_test
