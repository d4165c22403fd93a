// Layers and groups of the scope base over real documents: creation and IDs,
// the flag table, hiding, deletion, moves in a small tree, and listing.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/document/mask.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace imgscope_test {
namespace {

class LayersTest : public ::testing::Test {
protected:
    TestScope scope;

    int Raster(int flags, char const* name = "L", int position = -3)
    {
        int id = -1;
        EXPECT_TRUE(scope.InsertLayer(id, MakeDataFrame({8, 6}), CString::FromUtf8(name), position, flags, 0));
        return id;
    }

    int Vector(int flags, char const* name = "V")
    {
        int id = -1;
        EXPECT_TRUE(scope.InsertLayer(id, MakeGraphic(), CString::FromUtf8(name), -3, flags, 0));
        return id;
    }

    int Flags(int layer)
    {
        int flags = -1;
        EXPECT_TRUE(scope.GetLayerFlags(layer, flags));
        return flags;
    }
};

TEST_F(LayersTest, InsertTakesIdOneWhenFreeDeleteTakesAnyStackAndRefusalsReportMinusOne)
{
    int id = 42;
    EXPECT_FALSE(scope.InsertLayer(id, boost::shared_ptr<mem::CDataFrame>(), CString(L"x"), -3, 9, 0));
    EXPECT_EQ(id, -1);
    id = 42;
    EXPECT_FALSE(scope.InsertLayer(id, boost::shared_ptr<img::CVecGraph>(), CString(L"x"), -3, 9, 0));
    EXPECT_EQ(id, -1);
    EXPECT_EQ(scope.FirstLayerID(), -1);

    EXPECT_EQ(Raster(9), 1);
    const int second = Raster(9), bare = Raster(0);
    EXPECT_NE(second, 1);
    EXPECT_NE(bare, second);
    for (int layer : {1, bare}) {  // with and without an entry
        EXPECT_TRUE(scope.DelLayer(layer));
        EXPECT_FALSE(scope.HasLayer(layer));
        EXPECT_FALSE(scope.DelLayer(layer));
    }
    EXPECT_EQ(Raster(1), 1);
    const int next = Raster(1);  // ID 1 is taken again: the document chooses
    EXPECT_NE(next, 1);
    EXPECT_TRUE(scope.HasLayer(next));
}

TEST_F(LayersTest, FlagsWithoutEntryBitAddStackOnly)
{
    for (int flags : {0, 0x002}) {
        SCOPED_TRACE(flags);
        const int id = Raster(flags);
        EXPECT_TRUE(scope.HasLayer(id));
        EXPECT_EQ(scope.FindPlaneID(id), -1);
        EXPECT_EQ(Flags(id), 0x002);
        bool visible = true;
        EXPECT_FALSE(scope.IsLayerVisible(id, visible));
        bool hidden = true;
        EXPECT_TRUE(scope.IsLayerHidden(id, hidden) && !hidden);
    }
    std::vector<int> layers;
    EXPECT_TRUE(scope.GetLayers(layers, -1));
    EXPECT_TRUE(layers.empty());
}

TEST_F(LayersTest, FlagTableForRasterAndVectorLayers)
{
    struct Case {
        bool vector;
        int inserted;
        int reported;
    };
    // Each case is inserted last and selected at most once, so that its own
    // selection bit is the one in force when it is read.
    const Case cases[] = {
        {false, 0x001, 0x101},  // visible
        {false, 0x009, 0x109},  // visible, selected
        {false, 0x089, 0x189},  // the mosaic's image layers
        {false, 0x0C0, 0x1C0},  // hidden, XY-fixed, not visible
        {false, 0x028, 0x108},  // the mask counts as active only once it exists
        {false, 0x020, 0x100},  // mask bit alone selects nothing
        {false, 0x004, 0x100},  // bits 2 and 4 are never reported
        {true, 0x001, 0x201},
        {true, 0x009, 0x209},
        {true, 0x080, 0x200},   // no XY-fixing for vector layers
        {true, 0x048, 0x248},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.inserted << (c.vector ? " vector" : " raster"));
        const int id = c.vector ? Vector(c.inserted) : Raster(c.inserted);
        EXPECT_EQ(Flags(id), c.reported);
    }
}

TEST_F(LayersTest, SelectionIsKeptPerLayerType)
{
    Raster(1);
    int layer = 77;
    bool maskActive = true;
    EXPECT_FALSE(scope.GetSelectedLayer(img::eLayerTypeImage, layer, maskActive)) << "nothing selected yet";
    EXPECT_EQ(layer, 77);
    EXPECT_TRUE(maskActive);

    const int raster1 = Raster(9);
    const int vector = Vector(9);
    const int raster2 = Raster(1);
    EXPECT_EQ(Flags(raster1), 0x109);
    EXPECT_EQ(Flags(vector), 0x209);

    ASSERT_TRUE(scope.CreateTranspMask(raster2, 255));
    ASSERT_TRUE(scope.SetSelectedLayer(raster2, true));
    EXPECT_EQ(Flags(raster1), 0x101);
    EXPECT_EQ(Flags(raster2), 0x129);
    EXPECT_EQ(Flags(vector), 0x209);

    EXPECT_TRUE(scope.GetSelectedLayer(img::eLayerTypeImage, layer, maskActive) && layer == raster2);
    EXPECT_TRUE(maskActive);
    EXPECT_TRUE(scope.GetSelectedLayer(img::eLayerTypeVector, layer, maskActive) && layer == vector);
    EXPECT_FALSE(maskActive);

    EXPECT_FALSE(scope.SetSelectedLayer(999, false));
    EXPECT_FALSE(scope.SetSelectedLayer(scope.FindPlaneID(raster1), false));  // a plane ID is no layer ID
}

TEST_F(LayersTest, KeepUnitDimensionsOption)
{
    int kept = -1;
    int dropped = -1;
    ASSERT_TRUE(scope.InsertLayer(kept, MakeDataFrame({8, 6, 1}), CString(L"k"), -3, 1, 1));
    ASSERT_TRUE(scope.InsertLayer(dropped, MakeDataFrame({8, 6, 1}), CString(L"d"), -3, 1, 0));
    EXPECT_TRUE(scope.TestOrder(kept, geo::CiVecN{0}));
    EXPECT_TRUE(scope.TestOrder(dropped, geo::CiVecN{}));
}

TEST_F(LayersTest, NamesAndXYFixedLiveWithTheStack)
{
    const int id = Raster(0, "Layer 1");  // no entry: the stack path still works
    ASSERT_TRUE(scope.SetLayerName(id, CString(L"renamed")));
    ASSERT_TRUE(scope.SetLayerXYFixed(id, true));
    TestScope other(scope.GetCollection());
    CString name;
    EXPECT_TRUE(other.GetLayerName(id, name) && name == L"renamed");
    bool fixed = false;
    EXPECT_TRUE(other.IsLayerXYFixed(id, fixed) && fixed);
    EXPECT_FALSE(scope.GetLayerName(999, name));
    EXPECT_EQ(name, L"renamed");
}

TEST_F(LayersTest, HideAndUnhide)
{
    const int id = Raster(9);
    const int plain = Raster(0);
    EXPECT_FALSE(scope.HideLayer(999));
    EXPECT_TRUE(scope.HideLayer(plain));  // nothing to remove

    EXPECT_FALSE(scope.UnhideLayer(id, -3, 1));  // it has an entry
    ASSERT_TRUE(scope.HideLayer(id));
    EXPECT_TRUE(scope.HasLayer(id));
    EXPECT_EQ(scope.FindPlaneID(id), -1);
    bool hidden = true;
    ASSERT_TRUE(scope.IsLayerHidden(id, hidden));
    EXPECT_FALSE(hidden);  // no entry, so no hidden flag

    const int other = Raster(1);
    ASSERT_TRUE(scope.UnhideLayer(id, -2, 0));
    EXPECT_NE(scope.FindPlaneID(id), -1);
    std::vector<int> layers;
    EXPECT_TRUE(scope.GetLayers(layers, -1) && layers == (std::vector<int>{id, other}));
    EXPECT_FALSE(scope.UnhideLayer(999, -3, 1));

    const int flagged = Raster(0x041);
    EXPECT_TRUE(scope.IsLayerHidden(flagged, hidden) && hidden);
    EXPECT_FALSE(scope.IsLayerHidden(999, hidden));
}

TEST_F(LayersTest, MaskedLayerIsOpaqueOverItsFrame)
{
    int id = -1;
    ASSERT_TRUE(scope.InsertLayerMasked(id, MakeDataFrame({70, 40}), CString(L"m"), -3, 0x029, 0));
    EXPECT_EQ(Flags(id), 0x129);  // selected with its mask active
    boost::shared_ptr<img::CMask> mask = scope.GetTranspMask(id);
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->GetValue({0, 0}), 255);
    EXPECT_EQ(mask->GetValue({69, 39}), 255);
    EXPECT_EQ(mask->GetValue({70, 0}), -1);

    // No entry, so no mask to fill: false, but the layer stays.
    int bare = -1;
    EXPECT_FALSE(scope.InsertLayerMasked(bare, MakeDataFrame({8, 6}), CString(L"b"), -3, 0, 0));
    EXPECT_TRUE(scope.HasLayer(bare));
}

TEST_F(LayersTest, CreateGroupSetsFlagsAndPosition)
{
    Raster(1);
    const int locked = scope.CreateGroup(CString(L"all"), -1, 7);
    ASSERT_NE(locked, -1);
    std::vector<int> units;
    ASSERT_TRUE(scope.GetGroups(units));
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0], locked);

    bool visible = false, lockedFlag = false, singular = false;
    ASSERT_TRUE(scope.IsGroupVisible(locked, visible));
    ASSERT_TRUE(scope.IsGroupLocked(locked, lockedFlag));
    ASSERT_TRUE(scope.IsGroupSingular(locked, singular));
    EXPECT_TRUE(visible && lockedFlag && singular);

    // Before a group that is not first: just in front of it.
    const int unit = units[1];
    const int last = scope.CreateGroup(CString(L"last"), -1, 0);
    ASSERT_TRUE(scope.MoveGroup(last, -3));
    const int middle = scope.CreateGroup(CString(L"mid"), last, 0);
    EXPECT_TRUE(scope.GetGroups(units) && units == (std::vector<int>{locked, unit, middle, last}));
    EXPECT_TRUE(scope.IsGroupVisible(middle, visible) && !visible);

    // Before something that is no group: the start.
    const int first = scope.CreateGroup(CString(L"first"), unit, 1);
    ASSERT_TRUE(scope.GetGroups(units));
    EXPECT_EQ(units.front(), first);
}

TEST_F(LayersTest, GroupOperationsTakeGroupsOnly)
{
    const int lone = scope.CreateGroup(CString(L"g"), -1, 1);
    EXPECT_FALSE(scope.MoveGroup(lone, -2)) << "a single root unit has nowhere to go";
    EXPECT_FALSE(scope.MoveGroup(lone, -3));
    const int layer = Raster(1);
    const int plane = scope.FindPlaneID(layer);
    bool value = true;
    EXPECT_FALSE(scope.SetGroupVisible(plane, false));
    EXPECT_FALSE(scope.SetGroupVisible(layer, false));
    EXPECT_FALSE(scope.IsGroupVisible(plane, value));
    EXPECT_FALSE(scope.IsOutsideGroup(layer, value));  // a layer ID names no entry
    EXPECT_TRUE(value);
    CString name = L"kept";
    EXPECT_FALSE(scope.GetGroupName(plane, name));
    EXPECT_EQ(name, L"kept");
}

// A tree of root layers and two groups, named by letters:
//   A  G1(B C D)  G2(E F)  H
class LayerTreeTest : public LayersTest {
protected:
    std::map<int, std::string> names;  // layer and group IDs
    int A = -1, B = -1, C = -1, D = -1, E = -1, F = -1, H = -1, G1 = -1, G2 = -1;

    void SetUp() override
    {
        for (auto [id, name] : {std::pair<int*, char const*>{&A, "A"}, {&B, "B"}, {&C, "C"}, {&D, "D"},
                                {&E, "E"}, {&F, "F"}, {&H, "H"}}) {
            *id = Raster(1, name);
            names[*id] = name;
        }
        G2 = scope.CreateGroup(CString(L"G2"), -1, 1);
        G1 = scope.CreateGroup(CString(L"G1"), G2, 1);
        names[G1] = "G1";
        names[G2] = "G2";
        for (int layer : {B, C, D})
            ASSERT_TRUE(scope.AppendToGroup(layer, G1));
        for (int layer : {E, F})
            ASSERT_TRUE(scope.AppendToGroup(layer, G2));
        ASSERT_TRUE(scope.MoveLayer(A, -2, img::eAffinityDefault));
        ASSERT_EQ(Tree(), "A G1(B C D) G2(E F) H");
    }

    std::string Tree()
    {
        std::vector<int> units;
        EXPECT_TRUE(scope.GetGroups(units));
        std::string text;
        for (int unit : units) {
            bool isGroup = false;
            EXPECT_TRUE(scope.IsOutsideGroup(unit, isGroup));
            std::vector<int> members;
            EXPECT_TRUE(scope.GetGroupMembers(unit, members));
            if (!text.empty())
                text += ' ';
            if (!isGroup) {
                text += members.size() == 1 ? names[members[0]] : "?";
                continue;
            }
            text += names[unit] + "(";
            for (std::size_t i = 0; i < members.size(); ++i)
                text += (i ? " " : "") + names[members[i]];
            text += ")";
        }
        return text;
    }
};

struct MoveCase {
    char const* what;
    char layer;
    char target;  // a letter, or '>' for the end (-3) and '<' for the start (-2)
    img::EGroupAffinity affinity;
    char const* tree;
};

void PrintTo(MoveCase const& c, std::ostream* os)
{
    *os << c.what;
}

class LayerMoveTest : public LayerTreeTest, public ::testing::WithParamInterface<MoveCase> {
protected:
    int Id(char letter)
    {
        for (auto const& [id, name] : names)
            if (name == std::string(1, letter))
                return id;
        return letter == '>' ? -3 : -2;  // the end or the start
    }
};

TEST_P(LayerMoveTest, MovesAndReportsTheWholeOrder)
{
    MoveCase const& c = GetParam();
    EXPECT_TRUE(scope.MoveLayer(Id(c.layer), Id(c.target), c.affinity));
    EXPECT_EQ(Tree(), c.tree);
}

// From "A G1(B C D) G2(E F) H".
INSTANTIATE_TEST_SUITE_P(
    Affinity, LayerMoveTest,
    ::testing::Values(
        MoveCase{"first member, root unit before", 'H', 'B', img::eAffinityDefault, "A H G1(B C D) G2(E F)"},
        MoveCase{"first at the root", 'H', 'A', img::eAffinityDefault, "H A G1(B C D) G2(E F)"},
        MoveCase{"first member, group before", 'H', 'E', img::eAffinityDefault, "A G1(B C D H) G2(E F)"},
        MoveCase{"into the group", 'A', 'C', img::eAffinityGroup, "G1(B A C D) G2(E F) H"},
        MoveCase{"default, later member", 'A', 'C', img::eAffinityDefault, "G1(B A C D) G2(E F) H"},
        MoveCase{"root, target in a group", 'D', 'E', img::eAffinityRoot, "A G1(B C) D G2(E F) H"},
        MoveCase{"root, target at the root", 'C', 'H', img::eAffinityRoot, "A G1(B D) G2(E F) C H"},
        MoveCase{"end", 'A', '>', img::eAffinityDefault, "G1(B C D) G2(E F) H A"},
        MoveCase{"start", 'H', '<', img::eAffinityGroup, "H A G1(B C D) G2(E F)"},
        MoveCase{"neighbour before", 'C', 'B', img::eAffinityGroup, "A G1(B C D) G2(E F) H"},
        MoveCase{"neighbour after", 'C', 'D', img::eAffinityGroup, "A G1(B C D) G2(E F) H"},
        MoveCase{"itself", 'E', 'E', img::eAffinityGroup, "A G1(B C D) G2(E F) H"},
        MoveCase{"two places on", 'B', 'D', img::eAffinityGroup, "A G1(C B D) G2(E F) H"},
        MoveCase{"root next to its place", 'H', 'F', img::eAffinityRoot, "A G1(B C D) G2(E F) H"},
        MoveCase{"start when already first", 'A', '<', img::eAffinityDefault, "A G1(B C D) G2(E F) H"}),
    [](::testing::TestParamInfo<MoveCase> const& param) {
        std::string name = param.param.what;
        for (char& ch : name)
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST_F(LayerTreeTest, MoveOntoFirstMemberOfFirstGroupJoinsIt)
{
    ASSERT_TRUE(scope.MoveLayer(A, -3, img::eAffinityDefault));
    ASSERT_EQ(Tree(), "G1(B C D) G2(E F) H A");
    EXPECT_TRUE(scope.MoveLayer(A, B, img::eAffinityDefault));
    EXPECT_EQ(Tree(), "G1(A B C D) G2(E F) H");
}

TEST_F(LayerTreeTest, MoveLayerFailsWithoutEntries)
{
    const int bare = Raster(0, "bare");
    EXPECT_FALSE(scope.MoveLayer(bare, A, img::eAffinityDefault));
    EXPECT_FALSE(scope.MoveLayer(A, bare, img::eAffinityDefault));
    EXPECT_FALSE(scope.MoveLayer(999, -3, img::eAffinityDefault));
    EXPECT_FALSE(scope.MoveLayer(A, G1, img::eAffinityDefault));  // a group is no target layer
    EXPECT_EQ(Tree(), "A G1(B C D) G2(E F) H");
}

TEST_F(LayerTreeTest, AppendAndPrependReportWhenNothingMoves)
{
    EXPECT_FALSE(scope.AppendToGroup(D, G1));  // already last
    EXPECT_FALSE(scope.PrependToGroup(B, G1));
    EXPECT_EQ(Tree(), "A G1(B C D) G2(E F) H");

    EXPECT_TRUE(scope.AppendToGroup(B, G1));
    EXPECT_EQ(Tree(), "A G1(C D B) G2(E F) H");
    EXPECT_TRUE(scope.PrependToGroup(D, G1));
    EXPECT_EQ(Tree(), "A G1(D C B) G2(E F) H");
    EXPECT_TRUE(scope.AppendToGroup(A, G2));
    EXPECT_EQ(Tree(), "G1(D C B) G2(E F A) H");
    EXPECT_TRUE(scope.PrependToGroup(H, G1));
    EXPECT_EQ(Tree(), "G1(H D C B) G2(E F A)");

    const int bare = Raster(0, "bare");
    EXPECT_FALSE(scope.AppendToGroup(bare, G1));
    EXPECT_FALSE(scope.PrependToGroup(bare, G1));
    EXPECT_FALSE(scope.AppendToGroup(C, scope.FindPlaneID(E)));  // not a group
    EXPECT_FALSE(scope.PrependToGroup(C, 999));
}

TEST_F(LayerTreeTest, MoveGroupAmongRootUnits)
{
    EXPECT_FALSE(scope.MoveGroup(G1, G1));
    EXPECT_FALSE(scope.MoveGroup(G1, 999));
    EXPECT_TRUE(scope.MoveGroup(G2, -2));
    EXPECT_EQ(Tree(), "G2(E F) A G1(B C D) H");
    EXPECT_TRUE(scope.MoveGroup(G2, -3));
    EXPECT_EQ(Tree(), "A G1(B C D) H G2(E F)");
    EXPECT_TRUE(scope.MoveGroup(G2, scope.FindPlaneID(A)));
    EXPECT_EQ(Tree(), "G2(E F) A G1(B C D) H");
    EXPECT_FALSE(scope.MoveGroup(G1, scope.FindPlaneID(B)));  // not a root unit
}

TEST_F(LayerTreeTest, GroupsAndMembers)
{
    int group = -1;
    EXPECT_TRUE(scope.GetGroupOf(C, group) && group == G1);
    ASSERT_TRUE(scope.GetGroupOf(A, group));
    EXPECT_NE(group, G1);
    EXPECT_NE(group, G2);
    group = 5;
    EXPECT_FALSE(scope.GetGroupOf(999, group));
    EXPECT_EQ(group, 5);

    std::vector<int> members{42};
    EXPECT_TRUE(scope.GetGroupMembers(G2, members) && members == (std::vector<int>{E, F}));
    EXPECT_TRUE(scope.GetGroupMembers(scope.FindPlaneID(H), members) && members == (std::vector<int>{H}));
    EXPECT_FALSE(scope.GetGroupMembers(999, members));
    EXPECT_EQ(members, (std::vector<int>{H}));
}

TEST_F(LayerTreeTest, DelGroupDeletesItsMembers)
{
    ASSERT_TRUE(scope.DelGroup(G1));
    EXPECT_EQ(Tree(), "A G2(E F) H");
    for (int layer : {B, C, D})
        EXPECT_FALSE(scope.HasLayer(layer));
    EXPECT_FALSE(scope.DelGroup(G1));
    EXPECT_FALSE(scope.DelGroup(999));
    EXPECT_TRUE(scope.HasLayer(E));

    // Not groups: a layer's entry and the root delete nothing.
    EXPECT_FALSE(scope.DelGroup(scope.FindPlaneID(H)));
    EXPECT_FALSE(scope.DelGroup(img::CDisplProcessFlow(scope.GetCollection(), false).RootId()));
    EXPECT_EQ(Tree(), "A G2(E F) H");
}

// The listing walks the tree once and looks shared state up once; it must
// list exactly the layers a plain loop over the tree finds with
// GetLayerFlags, for every combination of flags in the mask.
TEST_F(LayerTreeTest, GetLayersMatchesGetLayerFlagsLayerByLayer)
{
    ASSERT_TRUE(scope.SetSelectedLayer(B, false));
    ASSERT_TRUE(scope.SetLayerXYFixed(D, true));
    ASSERT_TRUE(scope.CreateTranspMask(C, 0));
    ASSERT_TRUE(scope.SetSelectedLayer(C, true));
    ASSERT_TRUE(scope.CreateTranspMask(F, 0));
    ASSERT_TRUE(scope.SetLayerVisible(H, false));
    ASSERT_TRUE(scope.HideLayer(E));  // leaves the tree
    int hidden = -1;
    ASSERT_TRUE(scope.InsertLayer(hidden, MakeDataFrame({8, 6}), CString(L"C2"), -3, 0x041, 0));
    const int vector = Vector(1);
    ASSERT_TRUE(scope.SetSelectedLayer(vector, false));
    Vector(1);
    ASSERT_TRUE(scope.AppendToGroup(vector, G2));

    std::vector<int> inTreeOrder;
    std::vector<int> units;
    ASSERT_TRUE(scope.GetGroups(units));
    for (int unit : units) {
        std::vector<int> members;
        ASSERT_TRUE(scope.GetGroupMembers(unit, members));
        inTreeOrder.insert(inTreeOrder.end(), members.begin(), members.end());
    }
    int seen = 0;
    for (int layer : inTreeOrder) {
        int flags = 0;
        ASSERT_TRUE(scope.GetLayerFlags(layer, flags));
        seen |= flags;
    }
    ASSERT_EQ(seen, 0x1 | 0x8 | 0x20 | 0x40 | 0x80 | 0x100 | 0x200);  // every flag occurs

    const int bits[] = {0x1, 0x2, 0x8, 0x20, 0x40, 0x80, 0x100, 0x200};
    std::vector<int> masks{-1, -67};
    for (int combination = 0; combination < 256; ++combination) {
        int mask = 0;
        for (int b = 0; b < 8; ++b)
            if (combination & (1 << b))
                mask |= bits[b];
        masks.push_back(mask);
    }
    for (int mask : masks) {
        SCOPED_TRACE(testing::Message() << std::hex << mask);
        std::vector<int> expected;
        for (int layer : inTreeOrder) {
            int flags = 0;
            if (scope.GetLayerFlags(layer, flags) && (flags & mask) == flags)
                expected.push_back(layer);
        }
        std::vector<int> layers{999};
        EXPECT_TRUE(scope.GetLayers(layers, mask));
        EXPECT_EQ(layers, expected);
        std::vector<int> appended{999};  // appended to, not replaced
        EXPECT_TRUE(scope.AppendGroupLayers(G2, mask, appended));
        std::vector<int> inG2{999};
        for (int layer : expected)
            if (layer == E || layer == F || layer == vector)
                inG2.push_back(layer);
        EXPECT_EQ(appended, inG2);
        EXPECT_FALSE(scope.AppendGroupLayers(scope.FindPlaneID(A), mask, appended));
        EXPECT_EQ(appended, inG2);
    }
}

}  // namespace
}  // namespace imgscope_test
