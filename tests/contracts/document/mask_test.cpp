#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/foundation/tile_view_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

class MaskTest : public ::testing::Test {
protected:
    img::CMask mask{geo::CiRect(-20, 0, 1180, 700), 0};  // partial last tiles at the default size

    std::int64_t Bytes() const { return mask.GetPixFrame()->GetDataFrame()->GetAllocatedBytes(); }
};

TEST_F(MaskTest, CombineModesMatchAPlainImage)
{
    const geo::CiRect all = mask.GetBoundary();
    std::vector<std::uint8_t> ref(static_cast<std::size_t>(all.Area()), 0);
    std::mt19937 rng(11);
    for (int i = 0; i < 80; ++i) {
        SCOPED_TRACE(i);
        std::uniform_int_distribution<int> xs(all.left - 50, all.right + 50), ys(all.top - 50, all.bottom + 50);
        geo::CiRect r(xs(rng), ys(rng), xs(rng), ys(rng));
        if (i % 4 != 0)
            r.Normalize();  // the rest are mostly inverted: empty, never flipped
        const int mode = i % 6;
        const auto v = static_cast<unsigned char>(rng() % 256);
        const geo::CiRect clip = geo::IsInverted(r) ? geo::CiRect() : geo::Intersection(r, all);
        ASSERT_EQ(mask.Rectangle(r, v, mode), !clip.IsEmpty());
        for (int y = clip.top; y < clip.bottom; ++y) {
            for (int x = clip.left; x < clip.right; ++x) {
                auto& m = ref[static_cast<std::size_t>(y - all.top) * all.Width() + (x - all.left)];
                switch (mode) {
                case 0: m = v; break;
                case 1: m = std::max(m, v); break;
                case 2: m = std::min(m, v); break;
                case 3: m = static_cast<std::uint8_t>(std::min(255, m + v)); break;
                case 4: m = static_cast<std::uint8_t>(std::max(0, m - v)); break;
                default: m = static_cast<std::uint8_t>(255 - m); break;
                }
            }
        }
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(all.Width()));
    for (int y = all.top; y < all.bottom; ++y) {
        ASSERT_TRUE(mask.ReadRowSegment({all.left, y}, all.Width(), row.data()));
        ASSERT_TRUE(std::equal(row.begin(), row.end(), ref.begin() + static_cast<std::ptrdiff_t>(y - all.top) * all.Width()))
            << "row " << y;
    }
}

TEST_F(MaskTest, WholeTileFillsCostNoMemory)
{
    ASSERT_TRUE(mask.Rectangle(mask.GetBoundary(), 255, img::CMask::eCombineSet));
    EXPECT_EQ(Bytes(), 0);
    EXPECT_EQ(mask.GetValue({1179, 699}), 255);
    ASSERT_TRUE(mask.Rectangle(geo::CiRect(-20, 0, 1180, 700), 10, img::CMask::eCombineSubtract));
    EXPECT_EQ(Bytes(), 0);
    EXPECT_EQ(mask.GetValue({0, 0}), 245);
    ASSERT_TRUE(mask.Rectangle(geo::CiRect(0, 0, 1, 1), 1, img::CMask::eCombineSet));
    EXPECT_EQ(Bytes(), 512 * 512);

    // A gigapixel mask filled with one value stays small.
    img::CMask huge(geo::CiRect(0, 0, 100000, 100000), 0);
    ASSERT_TRUE(huge.Rectangle(huge.GetBoundary(), 255, 0));
    ASSERT_TRUE(huge.Rectangle(geo::CiRect(1000, 2000, 1512, 2512), 0, 0));
    EXPECT_LE(huge.GetPixFrame()->GetDataFrame()->GetAllocatedBytes(), 4 * 512 * 512);
    EXPECT_EQ(huge.GetValue({1000, 2000}), 0);
    EXPECT_EQ(huge.GetValue({999, 2000}), 255);
}

TEST_F(MaskTest, RefusesUnknownModesAndOutsideRectangles)
{
    EXPECT_FALSE(mask.Rectangle(geo::CiRect(0, 0, 10, 10), 1, 6));
    EXPECT_FALSE(mask.Rectangle(geo::CiRect(0, 0, 10, 10), 1, -1));
    EXPECT_FALSE(mask.Rectangle(geo::CiRect(2000, 0, 2010, 10), 1, 0));
    EXPECT_FALSE(mask.Rectangle(geo::CiRect(5, 5, 5, 10), 1, 0));
    EXPECT_EQ(mask.GetValue({0, 0}), 0);
    EXPECT_EQ(mask.GetValue({-21, 0}), -1);
    EXPECT_THROW(img::CMask(geo::CiRect(0, 0, 0, 5), 1), std::invalid_argument);
    EXPECT_FALSE(img::CMask::Create(geo::CiRect(0, 0, 5, 0), 1));
    // Inverted rectangles are empty, never flipped into a mask or a region.
    EXPECT_THROW(img::CMask(geo::CiRect(5, 5, 0, 0), 1), std::invalid_argument);
    EXPECT_FALSE(img::CMask::Create(geo::CiRect(5, 0, 0, 5), 1));
    EXPECT_FALSE(mask.Rectangle(geo::CiRect(30, 30, 10, 10), 1, img::CMask::eCombineSet));
    EXPECT_EQ(mask.GetValue({20, 20}), 0);
}

TEST_F(MaskTest, CopiesAreDeepAndRowSpansReadTheInitialValue)
{
    img::CMask half(geo::CiRect(0, 0, 40, 40), 128);
    EXPECT_EQ(half.GetInitialValue(), 128);
    std::uint8_t const* row = nullptr;
    ASSERT_EQ(half.GetRowSpan({0, 0}, row), 40);
    EXPECT_TRUE(std::all_of(row, row + 40, [](std::uint8_t b) { return b == 128; }));
    img::CMask copy(half);
    ASSERT_TRUE(copy.Rectangle(geo::CiRect(0, 0, 40, 40), 0, 0));
    EXPECT_EQ(half.GetValue({5, 5}), 128);
    EXPECT_EQ(copy.GetValue({5, 5}), 0);
    half = copy;
    EXPECT_EQ(half.GetValue({5, 5}), 0);
}

// A render reads the tiles it shows without the lock, so a combine into one
// goes to a fresh block: the whole old tile must come along, the combined
// part included, while the render keeps seeing the old block.
TEST_F(MaskTest, CombinesIntoTilesARenderShowsKeepEveryPixelAndTheRenderTheOldOnes)
{
    const geo::CiRect all = mask.GetBoundary();
    ASSERT_TRUE(mask.Rectangle(all, 200, img::CMask::eCombineSet));
    ASSERT_TRUE(mask.Rectangle(geo::CiRect(0, 0, 300, 300), 41, img::CMask::eCombineSet));  // tiles with memory
    std::vector<int> columns, rows;
    for (int x = all.left; x < all.right; ++x)
        columns.push_back(x);
    for (int y = all.top; y < all.bottom; ++y)
        rows.push_back(y);
    const auto view = mem::CTileView::Open(*mask.GetPixFrame()->GetDataFrame(), geo::CiVecN(), columns, rows);
    view->Pin(rows.size(), all.top, all.bottom);

    // Combined from what the pixels held: not from a fresh block's bytes.
    ASSERT_TRUE(mask.Rectangle(geo::CiRect(100, 100, 200, 200), 30, img::CMask::eCombineAdd));
    for (geo::CiVec2 p : {geo::CiVec2(150, 150), geo::CiVec2(50, 50), geo::CiVec2(250, 250), geo::CiVec2(350, 50)})
        EXPECT_EQ(mask.GetValue(p), p == geo::CiVec2(150, 150) ? 71 : p.x < 300 ? 41 : 200) << p.x;
    auto cursor = view->Row(150);
    std::uint8_t const* shown = nullptr;
    ASSERT_GT(view->Span(cursor, geo::CiVec2(150, 150), shown), 0);
    EXPECT_EQ(*shown, 41);
}

}  // namespace
