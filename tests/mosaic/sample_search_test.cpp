// Sample search: IsSampleAtPos's clipping and needed count, calibration and
// failures of the window search, and the search against a literal scan of
// every window on randomised masks, which holds the window order, bounds,
// steps and quarter rule.
#include "imgscope/mosaic/sample_search.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace {

using namespace mosaic_test;

using tFind = bool (*)(img::CPicture const*, utl::TUnitValue<geo::CdVec2>&, utl::TUnitValue<geo::CdVec2> const&, bool);

// The search as defined, window by window: each window of each pass is
// read afresh and its non-zero bytes counted in order.
std::optional<utl::TUnitValue<geo::CdVec2>> LiteralFind(img::CPicture const& mask,
                                                        utl::TUnitValue<geo::CdVec2> const& windowSize,
                                                        bool centreFirst, bool wantSample)
{
    const geo::CiRect b = mask.GetBoundary();
    geo::CdRect px;
    if (!mask.Lcs2Pixel(utl::TUnitValue<geo::CdRect>(windowSize.unit,
                                                     geo::CdRect(0, 0, windowSize.value.x, windowSize.value.y)),
                        px))
        return std::nullopt;
    geo::CiRect w(geo::CdRect(0, 0, px.Width(), px.Height()));
    w.Normalize();
    if (w.Width() < 1)
        w.right = w.left + 1;
    if (w.Height() < 1)
        w.bottom = w.top + 1;
    const int ww = w.Width(), wh = w.Height();
    const auto frame = mask.GetPixFrame();
    std::vector<std::uint8_t> buffer(std::size_t(ww) * std::size_t(wh));
    const int passes = centreFirst ? 5 : 1;
    for (int k = passes - 1; k >= 0; --k) {
        const double f = double(k) / passes;
        geo::CiRect a = b;
        a.Inflate(geo::CiVec2(-int(std::int64_t(b.Width() * f) / 2), -int(std::int64_t(b.Height() * f) / 2)));
        const std::int64_t quarter = w.Area() / 4;
        for (std::int64_t y = a.top; y < std::int64_t(a.bottom) - wh; y += std::max(wh / 2, 1)) {
            for (std::int64_t x = a.left; x < std::int64_t(a.right) - ww; x += std::max(ww / 2, 1)) {
                w.MoveToXY(int(x), int(y));
                EXPECT_TRUE(frame->ReadRect(w, buffer.data(), ww, 0));
                std::int64_t count = 0;
                bool found = false;
                for (std::uint8_t v : buffer) {
                    count += v != 0;
                    if (count > quarter) {
                        found = wantSample;
                        break;
                    }
                }
                if (!wantSample)
                    found = count < quarter;
                if (found) {
                    utl::TUnitValue<geo::CdVec2> position;
                    mask.Pixel2Lcs(geo::CdVec2((w.left + w.right) / 2, (w.top + w.bottom) / 2), position);
                    return position;
                }
            }
        }
    }
    return std::nullopt;
}

std::optional<utl::TUnitValue<geo::CdVec2>> Find(tFind find, img::CPicture const& mask,
                                                 utl::TUnitValue<geo::CdVec2> const& window, bool centreFirst)
{
    const utl::TUnitValue<geo::CdVec2> untouched(kMicron, geo::CdVec2(-7.5, -7.5));
    utl::TUnitValue<geo::CdVec2> position = untouched;
    if (find(&mask, position, window, centreFirst))
        return position;
    EXPECT_EQ(position.value, untouched.value);  // written only on success
    EXPECT_EQ(position.unit, untouched.unit);
    return std::nullopt;
}

std::optional<geo::CdVec2> FoundAt(tFind find, img::CPicture const& mask, utl::TUnitValue<geo::CdVec2> const& window,
                                   bool centreFirst)
{
    const auto p = Find(find, mask, window, centreFirst);
    return p ? std::optional<geo::CdVec2>(p->value) : std::nullopt;
}

class SampleSearchTest : public ::testing::Test {
protected:
    img::CImg doc;
};

// ---------------------------------------------------------------- IsSampleAtPos

TEST_F(SampleSearchTest, IsSampleAtPosNeedsTheFractionOfTheClippedRegionAndAtLeastOnePixel)
{
    // 40 × 30 from (−10, 5); sample in the left 10 columns and at (20, 20).
    const auto mask = MaskPicture(doc, geo::CiRect(-10, 5, 30, 35), [](int x, int y) {
        return x < 0 || (x == 20 && y == 20) ? 200 : 0;
    });
    struct tCase {
        geo::CdRect area;
        double fraction;
        bool expected;
    };
    const tCase cases[] = {
        {{-10, 5, 0, 35}, 1.0, true},      // all sample
        {{-10, 5, 1, 35}, 1.0, false},     // one column short of it
        {{-10, 5, 1, 35}, 0.912, true},    // 300.96 of 330 pixels: truncated to 300
        {{-10, 5, 1, 35}, 0.913, false},   // 301.29: 301
        {{-10, 5, 0, 35}, 5.0, true},      // above 1: every pixel, not more
        {{-10, 5, 1, 35}, 5.0, false},
        {{0, 5, 30, 35}, 0.0, true},       // fraction 0 still needs the one at (20, 20)
        {{0, 5, 20, 35}, 0.0, false},
        {{0, 5, 20, 35}, -3.0, false},
        {{0, 5, 30, 35}, std::nan(""), true},
        {{0, 5, 20, 35}, std::nan(""), false},
        {{-60, 5, 0, 35}, 1.0, true},      // half outside: the inside half counts
        {{-60, 5, 5, 35}, 0.7, false},     // 10 of 15 inside columns
        {{-60, 5, 5, 35}, 0.66, true},
        {{0, 35, 10, 40}, 0.0, false},     // below the mask
        {{21, 21, 1, 10}, 1.0 / 220, true},  // normalised: 220 pixels, the one at (20, 20) enough
        {{20.9, 20.9, 21.1, 21.1}, 1.0, true},  // truncated to the pixel (20, 20)
        {{19.9, 19.9, 20.9, 20.9}, 1.0, false},  // truncated to (19, 19)
    };
    for (tCase const& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.area.left << ", " << c.area.top << ", " << c.area.right << ", "
                                          << c.area.bottom << " at " << c.fraction);
        EXPECT_EQ(img::IsSampleAtPos(mask.get(), PixelRect(c.area.left, c.area.top, c.area.right, c.area.bottom),
                                     c.fraction),
                  c.expected);
    }
    EXPECT_TRUE(img::IsSampleAtPos(nullptr, PixelRect(0, 0, 1, 1), 1.0));
}

TEST_F(SampleSearchTest, WidePixelsCountWhenAnyByteIsSet)
{
    // 16-bit pixels of 0x0100: the low byte is zero, the pixel is sample.
    const img::CPixelInfo gray16(utl::eUInt16, 1, img::eColorSpaceGray);
    const auto mask = MaskPicture(doc, geo::CiRect(0, 0, 40, 40), [](int x, int) { return x >= 20 ? 0x0100 : 0; }, gray16);
    EXPECT_TRUE(img::IsSampleAtPos(mask.get(), PixelRect(20, 0, 40, 40), 1.0));
    EXPECT_FALSE(img::IsSampleAtPos(mask.get(), PixelRect(19, 0, 40, 40), 1.0));
    EXPECT_EQ(FoundAt(img::FindSamplePos, *mask, Pixels(8, 8), false), geo::CdVec2(20, 4));
    EXPECT_EQ(FoundAt(img::FindNoSamplePos, *mask, Pixels(8, 8), false), geo::CdVec2(4, 4));
}

// ---------------------------------------------------------------- window search

TEST_F(SampleSearchTest, AreasWindowsAndPositionsAreInTheMasksCalibration)
{
    // 0.5 µm pixels from (100, 200) µm; sample from pixel column 60 on.
    auto mask = MaskPicture(doc, geo::CiRect(-20, 0, 140, 80), [](int x, int) { return x >= 60 ? 1 : 0; });
    Calibrate(*mask, 0.5, geo::CdVec2(100, 200));
    const utl::TUnitValue<geo::CdVec2> window(kMicron, geo::CdVec2(10, 10));  // 20 pixels
    const auto found = Find(img::FindSamplePos, *mask, window, false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->unit, kMicron);
    EXPECT_EQ(found->value, geo::CdVec2(100 + 0.5 * 60, 200 + 0.5 * 10));  // window at (50, 0)
    const utl::TUnitValue<geo::CdVec2> nano(imgscope_test::kNano, geo::CdVec2(10000, 10000));
    EXPECT_EQ(Find(img::FindSamplePos, *mask, nano, false)->value, found->value);

    EXPECT_TRUE(img::IsSampleAtPos(mask.get(), MicronRect(130, 200, 170, 240), 1.0));   // pixels 60..139
    EXPECT_FALSE(img::IsSampleAtPos(mask.get(), MicronRect(129, 200, 170, 240), 1.0));  // and pixels 58 and 59
    const utl::TUnitValue<geo::CdRect> nm(imgscope_test::kNano, geo::CdRect(130000, 200000, 170000, 240000));
    EXPECT_TRUE(img::IsSampleAtPos(mask.get(), nm, 1.0));
}

TEST_F(SampleSearchTest, FailuresLeaveThePositionAlone)
{
    const auto mask = MaskPicture(doc, geo::CiRect(0, 0, 50, 50), [](int, int) { return 0; });
    utl::TUnitValue<geo::CdVec2> position(kMicron, geo::CdVec2(3, 4));
    EXPECT_FALSE(img::FindSamplePos(nullptr, position, Pixels(4, 4), true));
    EXPECT_FALSE(img::FindSamplePos(mask.get(), position, Pixels(4, 4), true));
    EXPECT_FALSE(img::FindNoSamplePos(mask.get(), position, Pixels(50, 10), false));  // never fits
    EXPECT_EQ(position.value, geo::CdVec2(3, 4));
    // A mask whose layer is gone has no pixels.
    const auto gone = MaskPicture(doc, geo::CiRect(0, 0, 50, 50), [](int, int) { return 0; });
    doc.Remove(gone->GetLayerID());
    EXPECT_FALSE(img::FindNoSamplePos(gone.get(), position, Pixels(4, 4), false));
    EXPECT_FALSE(img::IsSampleAtPos(gone.get(), PixelRect(0, 0, 10, 10), 0.0));
    EXPECT_EQ(position.value, geo::CdVec2(3, 4));
}

// ---------------------------------------------------------------- against the literal scan

struct tRandomCase {
    geo::CiRect rect;
    double window[2];
    double pixelSize;  // 0: uncalibrated
    int kind;          // 0 noise, 1 rectangles, 2 empty, 3 full
    double density;
};

tPixel RandomMask(tRandomCase const& c, std::mt19937& rng)
{
    if (c.kind == 2)
        return [](int, int) { return 0; };
    if (c.kind == 3)
        return [](int, int) { return 9; };
    if (c.kind == 0) {
        const unsigned seed = rng();
        const double density = c.density;
        return [=](int x, int y) {
            std::uint32_t h = seed ^ (std::uint32_t(x) * 2654435761u) ^ (std::uint32_t(y) * 40503u);
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            h ^= h >> 15;
            return (h % 10000) < density * 10000 ? 1 + int(h % 255) : 0;
        };
    }
    std::vector<geo::CiRect> blobs;
    std::uniform_int_distribution<int> x(c.rect.left, c.rect.right), y(c.rect.top, c.rect.bottom);
    for (int i = 0, n = 1 + int(rng() % 4); i < n; ++i) {
        geo::CiRect r(x(rng), y(rng), x(rng), y(rng));
        r.Normalize();
        blobs.push_back(r);
    }
    return [=](int px, int py) {
        for (geo::CiRect const& r : blobs)
            if (r.Contains(geo::CiVec2(px, py)))
                return 255;
        return 0;
    };
}

void CompareWithLiteralScan(std::vector<tRandomCase> const& cases, std::mt19937& rng)
{
    for (std::size_t i = 0; i < cases.size(); ++i) {
        tRandomCase const& c = cases[i];
        img::CImg own;
        auto mask = MaskPicture(own, c.rect, RandomMask(c, rng));
        utl::TUnitValue<geo::CdVec2> window = Pixels(c.window[0], c.window[1]);
        if (c.pixelSize > 0) {
            Calibrate(*mask, c.pixelSize, geo::CdVec2(-31.5, 12.25));
            window.unit = kMicron;
        }
        for (bool centreFirst : {false, true}) {
            for (bool wantSample : {true, false}) {
                SCOPED_TRACE(::testing::Message()
                             << "case " << i << " rect " << c.rect.left << "," << c.rect.top << "," << c.rect.right
                             << "," << c.rect.bottom << " window " << c.window[0] << "x" << c.window[1] << " kind "
                             << c.kind << " density " << c.density << (centreFirst ? " centre-first" : "")
                             << (wantSample ? " sample" : " no sample"));
                const auto expected = LiteralFind(*mask, window, centreFirst, wantSample);
                const auto found = Find(wantSample ? img::FindSamplePos : img::FindNoSamplePos, *mask, window,
                                        centreFirst);
                ASSERT_EQ(found.has_value(), expected.has_value());
                if (found) {
                    EXPECT_EQ(found->value, expected->value);
                    EXPECT_EQ(found->unit, expected->unit);
                }
            }
        }
    }
}

// Densities around a quarter make windows of every verdict side by side.
constexpr double kDensities[] = {0.05, 0.2, 0.24, 0.26, 0.3, 0.6, 0.9};

TEST(SampleSearchRandomTest, SmallWindowsFindWhatTheLiteralScanFinds)
{
    std::mt19937 rng(20240613);
    std::vector<tRandomCase> cases;
    for (int i = 0; i < 60; ++i) {
        const int w = 1 + int(rng() % 120), h = 1 + int(rng() % 90);
        const int left = int(rng() % 61) - 30, top = int(rng() % 61) - 30;
        tRandomCase c{geo::CiRect(left, top, left + w, top + h), {0, 0}, 0.0, int(rng() % 4),
                      kDensities[rng() % std::size(kDensities)]};
        c.window[0] = 0.3 + (rng() % 200) / 10.0;
        c.window[1] = rng() % 3 == 0 ? c.window[0] : 0.3 + (rng() % 200) / 10.0;
        if (rng() % 3 == 0) {
            c.pixelSize = 0.25 * (1 + rng() % 8);
            c.window[0] *= c.pixelSize;
            c.window[1] *= c.pixelSize;
        }
        if (c.kind >= 2 && rng() % 2 == 0)
            c.kind = 0;
        cases.push_back(c);
    }
    CompareWithLiteralScan(cases, rng);
}

TEST(SampleSearchRandomTest, LargeWindowsOnLargeMasksFindWhatTheLiteralScanFinds)
{
    // Windows of a tenth of the mask and more: the centre-first passes then
    // share their counts.
    std::mt19937 rng(77);
    std::vector<tRandomCase> cases;
    for (int i = 0; i < 24; ++i) {
        const int w = 300 + int(rng() % 500), h = 300 + int(rng() % 400);
        tRandomCase c{geo::CiRect(-100, 40, -100 + w, 40 + h), {0, 0}, 0.0, i % 3 == 2 ? 1 : 0,
                      kDensities[rng() % std::size(kDensities)]};
        c.window[0] = w / (2.0 + rng() % 8) + (rng() % 10) / 10.0;
        c.window[1] = h / (2.0 + rng() % 8);
        cases.push_back(c);
    }
    CompareWithLiteralScan(cases, rng);
}

}  // namespace
