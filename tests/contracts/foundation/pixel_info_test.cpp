#include "imgscope/contracts/foundation/pixel_info.h"

#include <gtest/gtest.h>

namespace {

using img::CPixelInfo;

TEST(PixelInfoTest, SizesFollowTheElementTypeAndInvalidInputGivesNoPixel)
{
    struct Case {
        int type, components, size, bits;
    };
    const Case cases[] = {
        {utl::eUInt8, 1, 1, 8},     {utl::eUInt8, 3, 3, 24},   {utl::eUInt16, 1, 2, 16}, {utl::eInt32, 2, 8, 64},
        {utl::eFloat, 4, 16, 128},  {utl::eDouble, 1, 8, 64},  {utl::eUInt64, 64, 512, 4096},
        {0, 1, 0, 0},               {11, 1, 0, 0},             {-3, 1, 0, 0},
        {utl::eUInt8, 0, 0, 0},     {utl::eUInt8, -1, 0, 0},   {utl::eUInt8, 65, 0, 0},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " components " << c.components);
        const CPixelInfo info(c.type, c.components, img::eColorSpaceGray);
        EXPECT_EQ(info.Size(), c.size);
        EXPECT_EQ(info.GetBitsPerPixel(), c.bits);
        EXPECT_EQ(info.IsValid(), c.size > 0);
        if (!info.IsValid()) {
            EXPECT_EQ(info, CPixelInfo());
        }
    }
    // The focus map's description, written with plain codes.
    const CPixelInfo focus(2, 1, 1);
    EXPECT_EQ(focus, CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray));
    EXPECT_EQ(focus.GetComponentSize(), 1);
    EXPECT_NE(focus, CPixelInfo(utl::eUInt8, 1, img::eColorSpaceRGB));
}

TEST(PixelInfoTest, AlphaIsCountedApartAndMakesADifferentDescription)
{
    const CPixelInfo rgb(utl::eUInt8, 3, img::eColorSpaceRGB);
    const CPixelInfo rgba = rgb.AddAlpha(1);
    EXPECT_EQ(rgba.Size(), 4);
    EXPECT_NE(rgba, rgb);
    // Four components with one alpha are not four colour components.
    EXPECT_NE(rgba, CPixelInfo(utl::eUInt8, 4, img::eColorSpaceRGB));
    EXPECT_EQ(rgba.AddAlpha(1).GetAlphaCount(), 2);

    EXPECT_EQ(rgb.AddAlpha(0), rgb);
    EXPECT_EQ(rgb.AddAlpha(-1), rgb);
    EXPECT_EQ(rgb.AddAlpha(CPixelInfo::kMaxComponents), rgb);  // would pass the limit
    EXPECT_EQ(CPixelInfo().AddAlpha(1), CPixelInfo());
}

}  // namespace
