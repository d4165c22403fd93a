// The mosaic model: which layers a mosaic opens with, finding layers by
// role, magnification texts and the order of magnification groups.
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/picture.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

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

TEST_F(MosaicModelTest, LayersAndGroupsAreNamedByTheMagnificationText)
{
    struct tCase {
        double m;
        wchar_t const* text;
    };
    for (tCase c : {tCase{40.0, L"40x"}, {10.0, L"10x"}, {2.5, L"2.5x"}, {1.25, L"1.25x"}, {0.5, L"0.5x"},
                    {0.25, L"0.25x"}, {1.999, L"2x"}, {0.999, L"1x"}, {0.05, L"0.05x"}, {12.3, L"12.3x"}}) {
        SCOPED_TRACE(CString(c.text).ToUtf8());
        tLayer spec;
        spec.magnification = c.m;
        ASSERT_TRUE(spec.CreateIn(*mosaic));
        EXPECT_EQ(ActiveStack().GetName(), c.text);
        CString group;
        ASSERT_TRUE(core.GetGroupName(GroupOf(doc, Active()), group));
        EXPECT_EQ(group, c.text);
    }
}

TEST_F(MosaicModelTest, OverviewAndLabelAreNamedByRoleInAGroupOfTheirMagnification)
{
    tLayer overview;
    overview.type = img::eStackOverview;
    overview.magnification = 1.25;
    ASSERT_TRUE(overview.CreateIn(*mosaic));
    const int overviewId = Active();
    tLayer label;
    label.type = img::eStackLabel;
    ASSERT_TRUE(label.CreateIn(*mosaic));

    EXPECT_EQ(doc.FindStack(overviewId).GetName(), L"Overview");
    EXPECT_EQ(ActiveStack().GetName(), L"Label");
    EXPECT_EQ(RootNames(doc), (std::vector<std::wstring>{L"Label", L"Overview"}));
    mem::CBin m;
    ASSERT_TRUE(img::CDisplProcessFlow(doc, false).GetProperty(GroupOf(doc, overviewId), -1, 120060, m));
    EXPECT_EQ(m.GetOr(0.0), 1.25);
}

TEST_F(MosaicModelTest, EqualMagnificationsShareAGroupNewestFirstAndNearOnesDoNot)
{
    tLayer spec;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    const int first = Active();
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    const int second = Active();
    EXPECT_EQ(GroupOf(doc, first), GroupOf(doc, second));
    img::CDisplProcessFlow flow(doc, false);
    EXPECT_EQ(flow.GetStackId(flow.GetOpUnit(GroupOf(doc, first), 0)), second);

    spec.magnification = 10.0000001;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    EXPECT_NE(GroupOf(doc, Active()), GroupOf(doc, first));
    EXPECT_EQ(RootNames(doc).size(), 2u);
}

TEST_F(MosaicModelTest, GroupsRunInDecreasingMagnificationWithRootLayersLast)
{
    const int loose = AddTypedLayer(doc, -1);
    doc.FindStack(loose).SetName(CString(L"loose"));
    for (double m : {2.5, 40.0, 10.0, 0.5}) {
        tLayer spec;
        spec.magnification = m;
        ASSERT_TRUE(spec.CreateIn(*mosaic));
    }
    EXPECT_EQ(RootNames(doc), (std::vector<std::wstring>{L"40x", L"10x", L"2.5x", L"0.5x", L"layer:loose"}));
}

TEST_F(MosaicModelTest, SortingEndsForInfiniteAndNaNMagnificationsWhichGoFirst)
{
    for (double m : {10.0, std::numeric_limits<double>::infinity(), std::nan(""), 20.0, std::nan("")}) {
        tLayer spec;
        spec.magnification = m;
        ASSERT_TRUE(spec.CreateIn(*mosaic));
    }
    // NaN equals nothing, so each NaN layer has its own group; the
    // unorderable groups lead, in the order they had.
    const auto names = RootNames(doc);
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], L"nanx");
    EXPECT_EQ(names[1], L"nanx");
    EXPECT_EQ(names[2], L"infx");
    EXPECT_EQ(names[3], L"20x");
    EXPECT_EQ(names[4], L"10x");
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
