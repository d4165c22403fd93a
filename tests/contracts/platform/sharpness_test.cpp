// The Gaussian sharpness measure on analytic pictures: flat fields, steps
// blurred by known amounts, sinusoids of known period, values worked out by
// hand, and one scene in every pixel layout.
#include "imgscope/contracts/platform/sharpness.h"

#include "imgscope/contracts/document/pix_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace {

using tIntensity = std::function<double(int x, int y, int component)>;  // 0..1

const img::CPixelInfo kGray8(utl::eUInt8, 1, img::eColorSpaceGray);
const img::CPixelInfo kGrayFloat(utl::eFloat, 1, img::eColorSpaceGray);

// Stores v (0..1 of the full scale) as element type T.
template <class T>
void Put(std::uint8_t* p, double v)
{
    T t;
    if constexpr (std::is_floating_point_v<T>)
        t = static_cast<T>(v);
    else
        t = static_cast<T>(std::llround(v * double(std::numeric_limits<T>::max())));
    std::memcpy(p, &t, sizeof t);
}

void PutElement(utl::EType type, std::uint8_t* p, double v)
{
    switch (type) {
    case utl::eUInt8: Put<std::uint8_t>(p, v); break;
    case utl::eInt16: Put<std::int16_t>(p, v); break;
    case utl::eUInt16: Put<std::uint16_t>(p, v); break;
    case utl::eInt32: Put<std::int32_t>(p, v); break;
    case utl::eFloat: Put<float>(p, v); break;
    case utl::eDouble: Put<double>(p, v); break;
    default: FAIL() << "type not covered";
    }
}

boost::shared_ptr<img::CPixFrame> Picture(geo::CiRect const& rect, img::CPixelInfo const& info, tIntensity const& f,
                                          utl::CPropSet const& props = utl::CPropSet())
{
    auto frame = img::CPixFrame::Create(rect, info, mem::eMemoryDefault, mem::eAlign32, props);
    EXPECT_TRUE(frame);
    const int comps = info.GetComponentCount(), size = info.GetComponentSize();
    std::vector<std::uint8_t> row(std::size_t(rect.Width()) * std::size_t(info.Size()));
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x)
            for (int c = 0; c < comps; ++c)
                PutElement(info.GetElementType(), &row[(std::size_t(x - rect.left) * comps + c) * size], f(x, y, c));
        EXPECT_TRUE(frame->WriteRowSegment(geo::CiVec2(rect.left, y), rect.Width(), row.data(), 0));
    }
    return frame;
}

std::vector<std::vector<int>> Map(boost::shared_ptr<img::CPixFrame> const& map)
{
    std::vector<std::vector<int>> values;
    if (!map)
        return values;
    const geo::CiRect b = map->GetBoundary();
    for (int y = b.top; y < b.bottom; ++y) {
        std::vector<std::uint8_t> row(std::size_t(b.Width()));
        map->ReadRowSegment(geo::CiVec2(b.left, y), b.Width(), row.data(), 0);
        values.emplace_back(row.begin(), row.end());
    }
    return values;
}

int At(boost::shared_ptr<img::CPixFrame> const& map, int x, int y)
{
    std::uint8_t v = 0;
    EXPECT_TRUE(map->ReadRowSegment(geo::CiVec2(x, y), 1, &v, 0));
    return v;
}

// A step of `contrast` at x = edge, blurred by a Gaussian of `blur` pixels
// (0: sharp), sampled at pixel centres.
tIntensity Step(double edge, double blur, double contrast)
{
    return [=](int x, int, int) {
        const double t = x + 0.5 - edge;
        if (blur <= 0.0)
            return t > 0 ? contrast : 0.0;
        return contrast * 0.5 * (1.0 + std::erf(t / (blur * std::sqrt(2.0))));
    };
}

class SharpnessTest : public ::testing::TestWithParam<int> {
protected:
    int Order() const { return GetParam(); }
    img::CGaussSharpness Measure() const { return img::CGaussSharpness(0.3, Order()); }
};

TEST_P(SharpnessTest, BlurringAStepLowersItsValueStepByStep)
{
    // Float pixels: 8-bit rounding near the edge would add detail of its own.
    int previous = 256;
    for (double blur : {0.0, 0.5, 1.0, 1.5, 2.0, 3.0, 4.0}) {
        SCOPED_TRACE(blur);
        const auto map = Measure().GetSharpnessMap(Picture(geo::CiRect(0, 0, 128, 64), kGrayFloat, Step(32, blur, 0.8)), 64);
        ASSERT_TRUE(map);
        const int value = At(map, 0, 0);
        EXPECT_LT(value, previous);
        EXPECT_GT(value, 0);
        EXPECT_EQ(At(map, 1, 0), 0);  // the flat half holds nothing
        previous = value;
    }
}

TEST_P(SharpnessTest, WideBlurFallsWithTheExpectedPower)
{
    // Far beyond the smoothing, a blurred step's squared response integrates
    // to ∝ 1 / s³ (Laplacian) or 1 / s (gradient): its RMS to s^-1.5 or s^-0.5.
    const auto value = [&](double blur) {
        return At(Measure().GetSharpnessMap(Picture(geo::CiRect(0, 0, 64, 8), kGrayFloat, Step(32, blur, 3.0)), 64), 0, 0);
    };
    const double ratio = double(value(2.0)) / value(4.0);
    const double expected = Order() == 2 ? std::pow(2.0, 1.5) : std::pow(2.0, 0.5);
    EXPECT_NEAR(ratio, expected, 0.12 * expected);
}

TEST_P(SharpnessTest, FinerSinusoidsOfOneAmplitudeMeasureHigher)
{
    int previous = -1;
    for (int period : {64, 32, 16, 8, 4}) {
        SCOPED_TRACE(period);
        const auto wave = [period](int x, int, int) { return 0.5 + 0.1 * std::sin(2.0 * std::acos(-1.0) * x / period); };
        const auto map = Measure().GetSharpnessMap(Picture(geo::CiRect(0, 0, 256, 16), kGrayFloat, wave), 64);
        ASSERT_TRUE(map);
        // Interior blocks: the picture's edges repeat outward and bend the wave.
        EXPECT_EQ(At(map, 1, 0), At(map, 2, 0));
        EXPECT_GT(At(map, 1, 0), previous);
        previous = At(map, 1, 0);
    }
}

TEST_P(SharpnessTest, OneSceneMeasuresAlikeInEveryPixelLayout)
{
    const auto scene = [](int x, int y, int) {
        return (std::lround(127.0 + 60.0 * std::sin(x / 2.3) * std::cos(y / 3.1) + (x > 40 ? 60.0 : 0.0))) / 255.0;
    };
    const geo::CiRect rect(0, 0, 96, 80);
    const auto reference = Map(Measure().GetSharpnessMap(Picture(rect, kGray8, scene), 16));
    ASSERT_EQ(reference.size(), 5u);
    const img::CPixelInfo layouts[] = {
        kGrayFloat,
        img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray),
        img::CPixelInfo(utl::eInt16, 1, img::eColorSpaceGray),
        img::CPixelInfo(utl::eDouble, 1, img::eColorSpaceGray),
        img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB),
        img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
        img::CPixelInfo(utl::eUInt16, 3, img::eColorSpaceRGB).AddAlpha(1),
        img::CPixelInfo(utl::eFloat, 4, img::eColorSpaceMulti),
    };
    for (img::CPixelInfo const& info : layouts) {
        SCOPED_TRACE(::testing::Message() << "type " << info.GetElementType() << " components "
                                          << info.GetComponentCount() << " space " << info.GetColorSpace());
        // Alpha is half transparent and must not count.
        const auto pixels = [&](int x, int y, int c) { return c == 3 && info.HasAlpha() ? 0.5 : scene(x, y, c); };
        const auto map = Map(Measure().GetSharpnessMap(Picture(rect, info, pixels), 16));
        ASSERT_EQ(map.size(), reference.size());
        for (std::size_t j = 0; j < map.size(); ++j)
            for (std::size_t i = 0; i < map[j].size(); ++i)
                EXPECT_NEAR(map[j][i], reference[j][i], 1) << i << ", " << j;
    }
}

TEST_P(SharpnessTest, ColourWeighsTheComponentsByLuminanceAndOtherLayoutsByTheirMean)
{
    const auto scene = Step(8, 0.0, 0.6);
    const geo::CiRect rect(0, 0, 16, 16);
    const int grey = At(Measure().GetSharpnessMap(Picture(rect, kGrayFloat, scene), 16), 0, 0);
    ASSERT_GT(grey, 100);
    struct tCase {
        img::CPixelInfo info;
        int component;
        double weight;
    };
    for (tCase c : {tCase{img::CPixelInfo(utl::eFloat, 3, img::eColorSpaceRGB), 0, 0.299},
                    {img::CPixelInfo(utl::eFloat, 3, img::eColorSpaceRGB), 1, 0.587},
                    {img::CPixelInfo(utl::eFloat, 3, img::eColorSpaceBGR), 0, 0.114},
                    {img::CPixelInfo(utl::eFloat, 3, img::eColorSpaceBGR), 2, 0.299},
                    {img::CPixelInfo(utl::eFloat, 2, img::eColorSpaceMulti), 1, 0.5}}) {
        SCOPED_TRACE(c.weight);
        const auto only = [&](int x, int y, int k) { return k == c.component ? scene(x, y, k) : 0.0; };
        EXPECT_NEAR(At(Measure().GetSharpnessMap(Picture(rect, c.info, only), 16), 0, 0), grey * c.weight, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, SharpnessTest, ::testing::Values(1, 2));

// Without smoothing the values follow by hand. A step of 20 grey levels
// between columns 3 and 4 of an 8 × 8 picture: the Laplacian is +20 and
// −20 there, the RMS over the block 10, and 10 / 255 × 1024 rounds to 40;
// the gradient is 10 at both columns, RMS 5, giving 20.
TEST(GaussSharpnessTest, ValuesWithoutSmoothingMatchTheDefinition)
{
    const auto source = Picture(geo::CiRect(0, 0, 8, 8), kGray8, [](int x, int, int) { return x >= 4 ? 20.0 / 255 : 0.0; });
    EXPECT_EQ(At(img::CGaussSharpness(0.0, 2).GetSharpnessMap(source, 8), 0, 0), 40);
    EXPECT_EQ(At(img::CGaussSharpness(0.0, 1).GetSharpnessMap(source, 8), 0, 0), 20);
    // A contrast eight times as high passes a quarter of full scale: 255.
    const auto strong = Picture(geo::CiRect(0, 0, 8, 8), kGray8, [](int x, int, int) { return x >= 4 ? 0.63 : 0.0; });
    EXPECT_EQ(At(img::CGaussSharpness(0.0, 2).GetSharpnessMap(strong, 8), 0, 0), 255);
}

TEST(GaussSharpnessTest, PartialBlocksAverageOverThePixelsTheyHold)
{
    // 10 × 9 pixels from (−5, 7) in blocks of 8: 2 × 2 map pixels, the right
    // ones 2 columns wide, the lower ones 1 row high. Column 9 alone is 20:
    // Laplacian +20 at column 8, −20 at column 9, RMS over 2 columns 20 → 80.
    const auto source = Picture(geo::CiRect(-5, 7, 5, 16), kGray8, [](int x, int, int) { return x == 4 ? 20.0 / 255 : 0.0; });
    const auto map = img::CGaussSharpness(0.0, 2).GetSharpnessMap(source, 8);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->GetBoundary(), geo::CiRect(0, 0, 2, 2));
    EXPECT_EQ(Map(map), (std::vector<std::vector<int>>{{0, 80}, {0, 80}}));
}

TEST(GaussSharpnessTest, TileLayoutOfTheSourceDoesNotMatter)
{
    const auto scene = [](int x, int y, int) { return ((x * 7 + y * 13) % 23) / 23.0; };
    const geo::CiRect rect(0, 0, 1100, 70);
    utl::CPropSet small, resident;
    small.SetValue(mem::ePropTileSize, geo::CiVec3(64, 32, 1));
    resident.SetValue(mem::ePropMemoryModel, static_cast<int>(mem::eMemoryResident));
    const img::CGaussSharpness measure(1.2, 2);
    const auto tiled = Map(measure.GetSharpnessMap(Picture(rect, kGray8, scene, small), 24));
    EXPECT_EQ(tiled, Map(measure.GetSharpnessMap(Picture(rect, kGray8, scene, resident), 24)));
    ASSERT_EQ(tiled.size(), 3u);
    EXPECT_EQ(tiled[0].size(), 46u);
}

TEST(GaussSharpnessTest, InvalidArgumentsGiveNoMap)
{
    const auto source = Picture(geo::CiRect(0, 0, 8, 8), kGray8, [](int, int, int) { return 0.5; });
    EXPECT_FALSE(img::CGaussSharpness(0.3, 2).GetSharpnessMap(nullptr, 8));
    EXPECT_FALSE(img::CGaussSharpness(0.3, 2).GetSharpnessMap(source, 0));
    EXPECT_FALSE(img::CGaussSharpness(0.3, 2).GetSharpnessMap(source, -4));
    for (double sigma : {-0.1, 16.01, std::nan("")})
        EXPECT_FALSE(img::CGaussSharpness(sigma, 2).GetSharpnessMap(source, 8)) << sigma;
    for (int order : {0, 3, -1})
        EXPECT_FALSE(img::CGaussSharpness(0.3, order).GetSharpnessMap(source, 8)) << order;
    EXPECT_TRUE(img::CGaussSharpness(16.0, 2).GetSharpnessMap(source, 8));
    // A block larger than the picture: one map pixel.
    const auto one = img::CGaussSharpness(0.3, 1).GetSharpnessMap(source, 1000);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->GetBoundary(), geo::CiRect(0, 0, 1, 1));
}

TEST(GaussSharpnessTest, NonFinitePixelsCountAsZero)
{
    const double inf = std::numeric_limits<double>::infinity();
    const auto holes = Picture(geo::CiRect(0, 0, 8, 8), kGrayFloat,
                               [&](int x, int y, int) { return x == 2 && y == 2 ? std::nan("") : x == 5 ? inf : 0.0; });
    const auto zeros = Picture(geo::CiRect(0, 0, 8, 8), kGrayFloat, [](int, int, int) { return 0.0; });
    EXPECT_EQ(Map(img::CGaussSharpness(0.3, 2).GetSharpnessMap(holes, 4)),
              Map(img::CGaussSharpness(0.3, 2).GetSharpnessMap(zeros, 4)));
}

}  // namespace
