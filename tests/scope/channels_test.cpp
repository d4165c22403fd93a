// Channels, LUTs, limits and display state of the scope base over real
// documents: which side keeps each setting, LUT removal, and the channel
// and frame selections as sets.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/document/mask.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <vector>

namespace imgscope_test {
namespace {

using FrameSet = std::set<geo::CiVecN, geo::tiVecNLess>;

std::vector<utl::CBGR8> Ramp(unsigned char tint)
{
    std::vector<utl::CBGR8> lut(256);
    for (int i = 0; i < 256; ++i)
        lut[i] = utl::CBGR8(static_cast<unsigned char>(i), tint, static_cast<unsigned char>(255 - i));
    return lut;
}

class ChannelsTest : public ::testing::Test {
protected:
    TestScope scope;
    int rgb = -1;     // 8 × 6, three components, visible and selected
    int bare = -1;    // the same without a tree entry
    int stacked = -1; // 4 × 3 planes over two further dimensions (2 × 5)

    void SetUp() override
    {
        ASSERT_TRUE(scope.InsertLayer(rgb, MakeDataFrame({8, 6}, utl::eUInt8, 3), CString(L"rgb"), -3, 9, 0));
        ASSERT_TRUE(scope.InsertLayer(bare, MakeDataFrame({8, 6}, utl::eUInt8, 3), CString(L"bare"), -3, 0, 0));
        ASSERT_TRUE(scope.InsertLayer(stacked, MakeDataFrame({4, 3, 2, 5}), CString(L"stack"), -3, 1, 0));
    }

    // Another view onto the document's tree, to set up what the scope
    // operations may not start themselves.
    img::CDisplProcessFlow Tree() { return img::CDisplProcessFlow(scope.GetCollection(), false); }

    FrameSet Selection(int layer)
    {
        FrameSet frames;
        scope.GetFrameSelection(scope.FindPlaneID(layer), frames);
        return frames;
    }
};

TEST_F(ChannelsTest, DataLUTsLiveWithTheStackDisplayLUTsInTheTree)
{
    // A layer without an entry still has its stack's LUTs, but no display LUT.
    ASSERT_TRUE(scope.SetDataLUT(bare, Ramp(1), 0));
    EXPECT_TRUE(scope.HasDataLUT(bare, 0));
    EXPECT_FALSE(scope.SetDisplayLUT(bare, Ramp(2), 0));
    EXPECT_FALSE(scope.HasDisplayLUT(bare, 0));

    ASSERT_TRUE(scope.SetDataLUT(rgb, Ramp(3), 1));
    EXPECT_TRUE(scope.HasDataLUT(rgb, 1));
    EXPECT_FALSE(scope.HasDisplayLUT(rgb, 1));
    ASSERT_TRUE(scope.SetDisplayLUT(rgb, Ramp(4), 1));

    std::vector<utl::CBGR8> lut;
    EXPECT_TRUE(scope.GetDataLUT(rgb, lut, 1) && lut == Ramp(3));
    EXPECT_TRUE(scope.GetDisplayLUT(rgb, lut, 1) && lut == Ramp(4));

    // Removing one side leaves the other.
    ASSERT_TRUE(scope.DelDisplayLUT(rgb, 1));
    EXPECT_FALSE(scope.HasDisplayLUT(rgb, 1));
    EXPECT_TRUE(scope.HasDataLUT(rgb, 1));

    // Moving the layer out of the tree keeps the data LUT with the stack.
    ASSERT_TRUE(scope.HideLayer(rgb));
    EXPECT_TRUE(scope.HasDataLUT(rgb, 1));

    lut = Ramp(9);
    EXPECT_FALSE(scope.GetDataLUT(999, lut, 0));
    EXPECT_FALSE(scope.GetDisplayLUT(999, lut, 0));
    EXPECT_EQ(lut, Ramp(9));
    EXPECT_FALSE(scope.UseLUT(bare, 1));
}

TEST_F(ChannelsTest, DelDataLUTOfEveryComponent)
{
    EXPECT_TRUE(scope.DelDataLUT(rgb, -1));  // none there: still true
    for (int c = 0; c < 3; ++c)
        ASSERT_TRUE(scope.SetDataLUT(rgb, Ramp(static_cast<unsigned char>(c)), c));
    EXPECT_TRUE(scope.DelDataLUT(rgb, -1));
    for (int c = 0; c < 3; ++c)
        EXPECT_FALSE(scope.HasDataLUT(rgb, c)) << c;

    ASSERT_TRUE(scope.SetDataLUT(rgb, Ramp(0), 2));
    EXPECT_TRUE(scope.DelDataLUT(rgb, 1));  // another channel: still true
    EXPECT_TRUE(scope.HasDataLUT(rgb, 2));
    EXPECT_FALSE(scope.DelDataLUT(999, -1));

    // DelChannelColor reports what the removal reports.
    EXPECT_FALSE(scope.DelChannelColor(rgb, 1));
    EXPECT_TRUE(scope.DelChannelColor(rgb, 2));
    EXPECT_FALSE(scope.HasDataLUT(rgb, 2));
}

TEST_F(ChannelsTest, StackSettingsNeedNoEntryAndAreSharedThroughTheDocument)
{
    std::vector<int> channels;
    for (int c = scope.GetFirstChannel(bare); c != -1 && channels.size() < 10; c = scope.GetNextChannel(bare, c))
        channels.push_back(c);
    EXPECT_EQ(channels, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(scope.GetFirstChannel(scope.FindPlaneID(rgb)), -1);  // a plane ID is no layer ID
    EXPECT_EQ(scope.GetNextChannel(999, 0), -1);

    ASSERT_TRUE(scope.SetChannelName(bare, 2, CString(L"DAPI")));
    ASSERT_TRUE(scope.SetLimits(bare, utl::TInterval<double>(10.0, 200.0)));
    TestScope other(scope.GetCollection());
    CString name;
    EXPECT_TRUE(other.GetChannelName(bare, 2, name) && name == L"DAPI");
    utl::TInterval<double> limits(1.0, 2.0);
    EXPECT_FALSE(other.GetLimits(999, limits));
    EXPECT_EQ(limits, utl::TInterval<double>(1.0, 2.0));
    EXPECT_TRUE(other.GetLimits(bare, limits) && limits == utl::TInterval<double>(10.0, 200.0));

    // Colours are not stored apart from the data LUT.
    utl::CBGR8 colour(1, 2, 3);
    EXPECT_FALSE(scope.SetChannelColor(bare, 0, utl::CBGR8(9, 9, 9)));
    EXPECT_FALSE(scope.GetChannelColor(bare, 0, colour));
    EXPECT_EQ(colour, utl::CBGR8(1, 2, 3));
    EXPECT_FALSE(scope.HasDataLUT(bare, 0));
}

TEST_F(ChannelsTest, DisplayStateFiltersAndMasksNeedATreeEntry)
{
    bool visible = true;
    img::ELayerFunction function = img::eFunctionMin;
    double opacity = -1.0;
    int layer = bare;
    const boost::shared_ptr<img::CDisplayFilter> filter(new img::CDisplayFilter);
    EXPECT_FALSE(scope.SetChannelVisible(bare, 0, false));
    EXPECT_FALSE(scope.IsChannelVisible(bare, 0, visible));
    EXPECT_FALSE(scope.SetFunction(bare, 0, img::eFunctionAdd));
    EXPECT_FALSE(scope.GetFunction(bare, 0, function));
    EXPECT_FALSE(scope.SetOpacity(bare, 0.5));
    EXPECT_FALSE(scope.GetOpacity(bare, opacity));
    EXPECT_FALSE(scope.SetDisplayFilter(layer, filter));
    EXPECT_FALSE(scope.HasDisplayFilter(bare));
    EXPECT_FALSE(scope.ResetDisplayFilter(bare));
    EXPECT_FALSE(scope.CreateTranspMask(bare, 0));
    EXPECT_FALSE(scope.DelTranspMask(bare));
    EXPECT_TRUE(scope.GetChannelIDs(bare).empty());
    EXPECT_TRUE(visible);
    EXPECT_EQ(function, img::eFunctionMin);
    EXPECT_EQ(opacity, -1.0);

    // Opacity is written as a plane property and read back as the gamma.
    ASSERT_TRUE(scope.SetOpacity(rgb, 0.25));
    EXPECT_TRUE(scope.GetOpacity(rgb, opacity) && opacity == 0.25);
    // The channel list holds the visible channels only.
    ASSERT_TRUE(scope.SetChannelVisible(rgb, 1, false));
    EXPECT_EQ(scope.GetChannelIDs(rgb), (std::set<int>{0, 2}));

    layer = rgb;
    EXPECT_FALSE(scope.HasDisplayFilter(rgb));
    EXPECT_TRUE(scope.SetDisplayFilter(layer, filter) && layer == rgb);
    EXPECT_TRUE(scope.HasDisplayFilter(rgb));
    ASSERT_TRUE(scope.ResetDisplayFilter(rgb));
    EXPECT_FALSE(scope.HasDisplayFilter(rgb));

    EXPECT_FALSE(scope.GetTranspMask(rgb));
    boost::shared_ptr<img::CMask> mask = scope.CreateTranspMask(rgb, 17);
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->GetValue({7, 5}), 17);
    EXPECT_EQ(scope.GetTranspMask(rgb), mask);
    EXPECT_EQ(static_cast<TestScope const&>(scope).GetTranspMask(rgb), mask);
    EXPECT_TRUE(scope.DelTranspMask(rgb));
    EXPECT_FALSE(scope.GetTranspMask(rgb));
}

TEST_F(ChannelsTest, ChannelSelectionIsNeverStartedNorEmptied)
{
    const int plane = scope.FindPlaneID(rgb);
    ASSERT_TRUE(Tree().SetSelectedChannels(plane, {}));
    std::set<int> channels{7};
    EXPECT_FALSE(scope.GetSelectedChannels(plane, channels));
    EXPECT_EQ(channels, std::set<int>{7});
    EXPECT_FALSE(scope.SelectChannel(plane, 1));  // nothing to add to
    EXPECT_TRUE(Tree().GetSelectedChannels(plane).empty());
    bool selected = true;
    EXPECT_FALSE(scope.IsChannelSelected(plane, 1, selected));
    EXPECT_TRUE(selected);

    ASSERT_TRUE(Tree().SetSelectedChannels(plane, {0}));
    EXPECT_TRUE(scope.SelectChannel(plane, 2));
    EXPECT_TRUE(scope.SelectChannel(plane, 2));
    EXPECT_FALSE(scope.SelectChannel(plane, 5));  // the tree knows no channel 5
    EXPECT_TRUE(scope.GetSelectedChannels(plane, channels) && channels == (std::set<int>{0, 2}));

    EXPECT_TRUE(scope.IsChannelSelected(plane, 1, selected) && !selected);
    EXPECT_TRUE(scope.IsChannelSelected(plane, 2, selected) && selected);

    EXPECT_TRUE(scope.UnselectChannel(plane, 0));
    EXPECT_TRUE(scope.UnselectChannel(plane, 1));  // not selected: written back as it was
    EXPECT_FALSE(scope.UnselectChannel(plane, 2)); // the last one stays
    EXPECT_EQ(Tree().GetSelectedChannels(plane), std::set<int>{2});

    // These take plane IDs as they are; a layer ID names no entry.
    EXPECT_FALSE(scope.SelectChannel(rgb, 0));
    EXPECT_FALSE(scope.GetSelectedChannels(rgb, channels));
}

TEST_F(ChannelsTest, SelectFrameRangeEnumeratesExclusiveBounds)
{
    struct Case {
        geo::CiVecN from, to;
        FrameSet added;
    };
    const Case cases[] = {
        {{0, 0}, {2, 3}, {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}}},
        {{1, 5}, {1, 5}, {}},
        {{0, 4}, {2, 1}, {{0, 4}, {1, 4}}},
        {{3, 1}, {3, 2}, {{3, 1}}},
        {{-2, 0}, {0, 0}, {{-2, 0}, {-1, 0}}},
    };
    const int plane = scope.FindPlaneID(stacked);
    // Every call writes the selection back once, even when it adds nothing.
    int writes = 0;
    img::CDisplProcessFlow tree = Tree();
    const int subscription = tree.Subscribe([&writes](img::EChange change) {
        if (change == img::eChangeDisplay)
            ++writes;
    });
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from[0] << "," << c.from[1] << " to " << c.to[0] << "," << c.to[1]);
        ASSERT_TRUE(scope.ResetFrameSelection(plane));
        ASSERT_TRUE(scope.SelectFrame(stacked, {9, 9}));
        writes = 0;
        EXPECT_TRUE(scope.SelectFrameRange(stacked, c.from, c.to));
        EXPECT_EQ(writes, 1);
        FrameSet expected = c.added;
        expected.insert({9, 9});
        EXPECT_EQ(Selection(stacked), expected);

        EXPECT_TRUE(scope.UnselectFrameRange(stacked, c.from, c.to));
        EXPECT_EQ(Selection(stacked), (FrameSet{{9, 9}}));
    }
    writes = 0;
    EXPECT_FALSE(scope.SelectFrameRange(stacked, {0, 0, 0}, {1, 1, 1}));
    EXPECT_EQ(writes, 0);
    tree.Unsubscribe(subscription);
}

TEST_F(ChannelsTest, FrameIndicesOfTheWrongLengthAndHugeRangesAreRefused)
{
    ASSERT_TRUE(scope.SelectFrame(stacked, {1, 2}));
    const FrameSet before = Selection(stacked);
    EXPECT_FALSE(scope.SelectFrame(stacked, {1}));
    EXPECT_FALSE(scope.SelectFrame(stacked, {1, 2, 3}));
    EXPECT_FALSE(scope.UnselectFrame(stacked, {1}));
    EXPECT_FALSE(scope.SelectFrameRange(stacked, {0, 0}, {2}));
    EXPECT_FALSE(scope.SelectFrameRange(stacked, {0}, {2}));
    EXPECT_FALSE(scope.UnselectFrameRange(stacked, {0, 0, 0}, {2, 2, 2}));
    EXPECT_FALSE(scope.SelectFrameRange(stacked, {0, 0}, {1 << 16, 1 << 16}));  // refused wholesale
    EXPECT_FALSE(scope.SelectFrameRange(stacked, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}));
    EXPECT_FALSE(scope.SelectFrame(bare, {}));  // no entry
    EXPECT_FALSE(scope.SelectFrame(999, {}));
    EXPECT_EQ(Selection(stacked), before);

    ASSERT_TRUE(scope.UnselectFrame(stacked, {1, 2}));
    EXPECT_TRUE(Selection(stacked).empty());
    EXPECT_TRUE(scope.UnselectFrame(stacked, {1, 2}));  // not selected: written back
    // Removing works on what is selected, whatever the bounds.
    ASSERT_TRUE(scope.SelectFrame(stacked, {0, 0}));
    EXPECT_TRUE(scope.UnselectFrameRange(stacked, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}));
    EXPECT_TRUE(Selection(stacked).empty());

    // A layer of order 0: the empty index is its one frame.
    ASSERT_TRUE(scope.SelectFrameRange(rgb, {}, {}));
    EXPECT_EQ(Selection(rgb), (FrameSet{geo::CiVecN{}}));
}

TEST_F(ChannelsTest, FrameSelectionByPlane)
{
    const int plane = scope.FindPlaneID(stacked);
    ASSERT_TRUE(scope.SelectFrame(stacked, {0, 1}));
    FrameSet frames;
    EXPECT_TRUE(scope.GetFrameSelection(plane, frames) && frames == (FrameSet{{0, 1}}));
    EXPECT_TRUE(scope.ResetFrameSelection(plane));
    EXPECT_TRUE(scope.GetFrameSelection(plane, frames) && frames.empty());
    EXPECT_TRUE(scope.ResetFrameSelection(999));
    EXPECT_TRUE(scope.ResetFrameSelection(stacked));  // whatever the tree says
    frames = {{4, 4}};
    EXPECT_FALSE(scope.GetFrameSelection(stacked, frames));  // a layer ID names no entry
    EXPECT_EQ(frames, (FrameSet{{4, 4}}));
}

}  // namespace
}  // namespace imgscope_test
