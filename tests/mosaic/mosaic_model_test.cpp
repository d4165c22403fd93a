// The mosaic model: which layers a mosaic opens with, finding layers by
// role, magnification texts and the order of magnification groups.
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/picture.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using namespace mosaic_test;
using imgscope_test::AddRasterLayer;

class MosaicModelTest : public ::testing::Test, public MosaicFixture {};

TEST(MosaicOpeningTest, ActiveLayerIsThePictureOfHighestPositiveRankFirstOnTies)
{
    struct tCase {
        char const* what;
        std::vector<std::pair<int, std::int64_t>> layers;  // (type, rank)
        int expected;  // index into layers, -1 for none
    };
    const std::vector<tCase> cases = {
        {"5 then 7", {{0, 5}, {0, 7}}, 1},
        {"7 then 5", {{0, 7}, {0, 5}}, 0},
        {"tie", {{0, 7}, {0, 7}}, 0},
        {"no rank", {{0, kNoRank}, {0, kNoRank}}, -1},
        {"zero and negative ranks", {{0, 0}, {0, -3}}, -1},
        {"types 32 and 64", {{32, 2}, {64, 3}}, 1},
        {"overview, sharpness, focus and untyped skipped", {{1, 9}, {8, 9}, {4, 9}, {-1, 9}, {0, 1}}, 4},
    };
    for (tCase const& c : cases) {
        SCOPED_TRACE(c.what);
        img::CImg doc;
        std::vector<int> ids;
        for (auto const& [type, rank] : c.layers)
            ids.push_back(AddTypedLayer(doc, type, rank));
        const Mosaic mosaic(img::CreateMosaikImage(&doc));
        ASSERT_TRUE(mosaic);
        EXPECT_EQ(mosaic->GetActiveLayerID(), c.expected == -1 ? -1 : ids[c.expected]);
    }
}

TEST(MosaicOpeningTest, RankIsA64BitNumberPlainOrWithUnitAndFocusMapsRankApart)
{
    img::CImg doc;
    const int int32Rank = AddTypedLayer(doc, 0);
    doc.FindStack(int32Rank).SetProperty(2015, mem::CBin(100));  // another type counts as 0
    const int unitRank = AddTypedLayer(doc, 0);
    doc.FindStack(unitRank).SetProperty(2015, mem::CBin(std::int64_t(2), kMicron));
    const int focusLow = AddTypedLayer(doc, 4, 3);
    const int focusHigh = AddTypedLayer(doc, 4, 9);
    const Mosaic mosaic(img::CreateMosaikImage(&doc));
    EXPECT_EQ(mosaic->GetActiveLayerID(), unitRank);

    // The focus layer shows by being deleted with the active one.
    EXPECT_TRUE(mosaic->DelCurrentLayers());
    EXPECT_FALSE(doc.FindStack(focusHigh).IsValid());
    EXPECT_TRUE(doc.FindStack(focusLow).IsValid());
    EXPECT_TRUE(doc.FindStack(int32Rank).IsValid());
}

TEST(MosaicOpeningTest, FactoriesMakeScopesOverNewOrGivenDocuments)
{
    const Mosaic fresh(img::CreateMosaikImage());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->GetActiveLayerID(), -1);
    EXPECT_EQ(fresh->GetLayerCount(), 0u);
    const Mosaic fromNull(img::CreateMosaikImage(nullptr));
    ASSERT_TRUE(fromNull);
    EXPECT_TRUE(fromNull->GetCollection() != fresh->GetCollection());

    img::CImg doc;
    const Mosaic over(img::CreateMosaikImage(&doc));
    EXPECT_TRUE(over->GetCollection() == doc);
}

TEST_F(MosaicModelTest, LayersAndGroupsAreNamedByTheMagnificationTextOrTheRole)
{
    struct tCase {
        double m;
        img::EStackType type;
        wchar_t const* text;
    };
    for (tCase c : {tCase{40.0, img::eStackPicture, L"40x"}, {2.5, img::eStackPicture, L"2.5x"},
                    {1.25, img::eStackPicture, L"1.25x"}, {0.5, img::eStackPicture, L"0.5x"},
                    {0.25, img::eStackPicture, L"0.25x"}, {1.999, img::eStackPicture, L"2x"},
                    {0.999, img::eStackPicture, L"1x"}, {0.05, img::eStackPicture, L"0.05x"},
                    {12.3, img::eStackPicture, L"12.3x"}, {1.3, img::eStackOverview, L"Overview"},
                    {3.3, img::eStackLabel, L"Label"}}) {
        SCOPED_TRACE(CString(c.text).ToUtf8());
        tLayer layer;
        layer.magnification = c.m;
        layer.type = c.type;
        ASSERT_TRUE(layer.CreateIn(*mosaic));
        EXPECT_EQ(ActiveStack().GetName(), c.text);
        const int group = GroupOf(doc, Active());
        CString name;
        ASSERT_TRUE(core.GetGroupName(group, name));
        EXPECT_EQ(name, c.text);
        mem::CBin m;
        ASSERT_TRUE(img::CDisplProcessFlow(doc, false).GetProperty(group, -1, 120060, m));
        EXPECT_EQ(m.GetOr(0.0), c.m);
    }
}

TEST_F(MosaicModelTest, GroupsRunInDecreasingMagnificationSharedOnlyByEqualOnesNewestFirst)
{
    AddTypedLayer(doc, -1);  // a root-level layer counts as magnification 0
    std::vector<int> ids;
    for (double m : {10.0, 2.5, 10.0, 40.0, 10.0000001}) {
        tLayer layer;
        layer.magnification = m;
        ASSERT_TRUE(layer.CreateIn(*mosaic));
        ids.push_back(Active());
    }
    EXPECT_EQ(RootNames(doc), (std::vector<std::wstring>{L"40x", L"10x", L"10x", L"2.5x", L"layer:"}));
    img::CDisplProcessFlow flow(doc, false);
    const int group = flow.GetOpUnit(flow.RootId(), 2);
    EXPECT_EQ(GroupOf(doc, ids[0]), group);
    EXPECT_EQ(flow.GetOpUnitCount(group), 2);
    EXPECT_EQ(flow.GetStackId(flow.GetOpUnit(group, 0)), ids[2]);
}

TEST_F(MosaicModelTest, SortingEndsForInfiniteAndNaNMagnificationsWhichGoFirst)
{
    for (double m : {10.0, std::numeric_limits<double>::infinity(), std::nan(""), 20.0, std::nan("")}) {
        tLayer layer;
        layer.magnification = m;
        ASSERT_TRUE(layer.CreateIn(*mosaic));
    }
    // NaN equals nothing, so each NaN layer has its own group; the
    // unorderable groups lead, in the order they had.
    EXPECT_EQ(RootNames(doc), (std::vector<std::wstring>{L"nanx", L"nanx", L"infx", L"20x", L"10x"}));
}

TEST_F(MosaicModelTest, RolesAreFoundInTreeOrderAmongLayersWithAnEntry)
{
    EXPECT_FALSE(mosaic->HasOverview());
    EXPECT_FALSE(mosaic->GetOverview());
    // An overview without an entry in the tree is never found.
    const int hidden = AddRasterLayer(doc, {8, 8, 1}, /*withEntry*/ false);
    doc.FindStack(hidden).SetProperty(2074, mem::CBin(1));
    EXPECT_FALSE(mosaic->HasOverview());

    tLayer overview;
    overview.type = img::eStackOverview;
    overview.magnification = 1.25;
    ASSERT_TRUE(overview.CreateIn(*mosaic));
    overview.magnification = 2.5;  // a group that sorts before the first
    ASSERT_TRUE(overview.CreateIn(*mosaic));
    const auto found = mosaic->GetOverview();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->GetLayerID(), Active());
    EXPECT_TRUE(found->GetCollection() == doc);
    EXPECT_FALSE(mosaic->HasLabel());
    EXPECT_FALSE(mosaic->HasSampleMask());

    // A stack type of another value type reads as whatever role is asked.
    const int odd = AddTypedLayer(doc, -1);
    doc.FindStack(odd).SetProperty(2074, mem::CBin(3.0));
    EXPECT_TRUE(mosaic->HasLabel());
    EXPECT_TRUE(mosaic->HasSampleMask());
    EXPECT_EQ(mosaic->GetSampleMask()->GetLayerID(), odd);
    doc.FindStack(odd).SetProperty(2074, mem::CBin(256));
    EXPECT_EQ(mosaic->GetLabel()->GetLayerID(), odd);
    EXPECT_FALSE(mosaic->HasSampleMask());
}

TEST_F(MosaicModelTest, LayerCountsCountStacksAndShownEntries)
{
    AddRasterLayer(doc, {8, 8, 1}, /*withEntry*/ false);
    const int invisible = AddTypedLayer(doc, -1);
    const int hidden = AddTypedLayer(doc, -1);
    img::CDisplProcessFlow(doc, false).SetVisibility(core.FindPlaneID(invisible), false);
    img::CDisplProcessFlow(doc, false).SetHidden(core.FindPlaneID(hidden), true);
    ASSERT_TRUE(tLayer().CreateIn(*mosaic));
    EXPECT_EQ(mosaic->GetLayerCount(), 4u);
    EXPECT_EQ(mosaic->GetVisibleLayerCount(), 2);
}

TEST_F(MosaicModelTest, ActivePicturePassesTheIdOnEvenWithoutAnActiveLayer)
{
    EXPECT_FALSE(mosaic->GetActivePicture());
    const int first = AddTypedLayer(doc, 0);
    const int second = AddTypedLayer(doc, 0);
    ASSERT_EQ(mosaic->GetActiveLayerID(), -1);
    // -1 opens the document's first layer.
    EXPECT_EQ(mosaic->GetActivePicture()->GetLayerID(), first);
    doc.FindStack(second).SetProperty(2015, mem::CBin(std::int64_t(1)));
    const Mosaic ranked(img::CreateMosaikImage(&doc));
    EXPECT_EQ(ranked->GetActivePicture()->GetLayerID(), second);
}

}  // namespace
