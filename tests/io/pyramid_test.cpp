// The halved levels of the pyramid, pixel for pixel: each is the rounded
// mean of its 2 × 2 block (odd edges counting twice), in every pixel
// layout the halving has its own path for, with the frame's tiles or
// gathered ones, for widths that end inside and outside a vector step.
#include "tests/io/io_documents.h"

#include <tiffio.h>

#include <cstring>
#include <type_traits>

namespace {

using namespace io_test;

class PyramidTest : public ::testing::Test {
protected:
    ScratchDir dir;

    // The pixels of the first image (`reduced` false) or its first reduced
    // level, rows back to back, read tile by tile with libtiff.
    std::vector<std::uint8_t> Level(std::string const& path, bool reduced, int px, int& width, int& height)
    {
        std::vector<std::uint8_t> pixels;
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        EXPECT_NE(tif, nullptr);
        if (!tif)
            return pixels;
        std::uint16_t count = 0;
        toff_t* subifds = nullptr;
        std::uint32_t w = 0, h = 0, tw = 0, th = 0;
        if (!reduced || (TIFFGetField(tif, TIFFTAG_SUBIFD, &count, &subifds) && count > 0 &&
                         TIFFSetSubDirectory(tif, subifds[0]))) {
            TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
            pixels.resize(std::size_t(w) * h * std::size_t(px));
            std::vector<std::uint8_t> tile(std::size_t(tw) * th * std::size_t(px));
            for (std::uint32_t ty = 0; ty < h; ty += th)
                for (std::uint32_t tx = 0; tx < w; tx += tw) {
                    EXPECT_GT(TIFFReadEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, 0), tile.data(),
                                                  tmsize_t(tile.size())), 0);
                    for (std::uint32_t y = ty; y < std::min(h, ty + th); ++y)
                        std::memcpy(&pixels[(std::size_t(y) * w + tx) * std::size_t(px)],
                                    &tile[std::size_t(y - ty) * tw * std::size_t(px)],
                                    std::size_t(std::min(tw, w - tx)) * std::size_t(px));
                }
        }
        TIFFClose(tif);
        width = int(w);
        height = int(h);
        return pixels;
    }

    // Saves a frame of random pixels and compares the image with them and
    // its first level with means computed here, in the file's component
    // order.
    template <class T>
    void ExpectHalved(img::CPixelInfo const& info, int width, int height, utl::CPropSet const& props)
    {
        SCOPED_TRACE(std::to_string(info.GetComponentCount()) + " components of " + std::to_string(sizeof(T)) +
                     " bytes, " + std::to_string(width) + " × " + std::to_string(height));
        img::CImg doc;
        auto frame = MakeFrame({0, 0}, {width, height}, info, props);
        const int n = info.GetComponentCount();
        std::vector<T> src(std::size_t(width) * std::size_t(height) * std::size_t(n));
        const auto bytes = Ramp(src.size() * sizeof(T), unsigned(width + n));
        std::memcpy(src.data(), bytes.data(), bytes.size());
        if constexpr (std::is_floating_point<T>::value)
            for (std::size_t i = 0; i < src.size(); ++i)
                src[i] = T(int(i % 997) - 400) * T(0.37);  // no NaN from random bits
        ASSERT_TRUE(frame->WriteRect(geo::CiRect(0, 0, width, height), {}, src.data(), 0));
        doc.Add(img::CStack(frame));
        const std::string path = dir.File("level.ome.tif");
        ASSERT_EQ(img::SaveDocument(doc, path), img::eFileOk);

        const bool swap = info.GetColorSpace() == img::eColorSpaceBGR;
        auto at = [&](int x, int y, int c) {
            x = std::min(x, width - 1);
            y = std::min(y, height - 1);
            const int comp = swap && c < 3 ? 2 - c : c;
            return src[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * std::size_t(n) + std::size_t(comp)];
        };
        int fw = 0, fh = 0;
        const auto full = Level(path, false, info.Size(), fw, fh);
        ASSERT_EQ(fw, width);
        ASSERT_EQ(fh, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < n; ++c)
                    if (std::memcmp(&full[((std::size_t(y) * std::size_t(width) + std::size_t(x)) * std::size_t(n) +
                                           std::size_t(c)) * sizeof(T)],
                                    &src[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * std::size_t(n) +
                                         std::size_t(swap && c < 3 ? 2 - c : c)],
                                    sizeof(T)) != 0) {
                        ADD_FAILURE() << "full resolution differs at " << x << ", " << y << " component " << c;
                        return;
                    }

        int lw = 0, lh = 0;
        const auto level = Level(path, true, info.Size(), lw, lh);
        ASSERT_EQ(lw, (width + 1) / 2);
        ASSERT_EQ(lh, (height + 1) / 2);
        int wrong = 0;
        for (int y = 0; y < lh && wrong < 5; ++y)
            for (int x = 0; x < lw; ++x)
                for (int c = 0; c < n; ++c) {
                    T expected;
                    if constexpr (std::is_floating_point<T>::value)
                        expected = T((double(at(2 * x, 2 * y, c)) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) +
                                      at(2 * x + 1, 2 * y + 1, c)) * 0.25);
                    else
                        expected = T((std::int64_t(at(2 * x, 2 * y, c)) + at(2 * x + 1, 2 * y, c) +
                                      at(2 * x, 2 * y + 1, c) + at(2 * x + 1, 2 * y + 1, c) + 2) >> 2);
                    T got;
                    std::memcpy(&got, &level[((std::size_t(y) * std::size_t(lw) + std::size_t(x)) * std::size_t(n) +
                                              std::size_t(c)) * sizeof(T)],
                                sizeof(T));
                    if (got != expected && ++wrong <= 5)
                        ADD_FAILURE() << "pixel " << x << ", " << y << " component " << c << ": " << double(got)
                                      << ", expected " << double(expected);
                }
    }
};

TEST_F(PyramidTest, EightBitLevelsAreRoundedMeansInEveryComponentLayout)
{
    const img::CPixelInfo layouts[] = {img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray),
                                       img::CPixelInfo(utl::eUInt8, 2, img::eColorSpaceMulti),
                                       img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB),
                                       img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                       img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB).AddAlpha(1),
                                       img::CPixelInfo(utl::eUInt8, 5, img::eColorSpaceMulti)};
    for (img::CPixelInfo const& info : layouts) {
        // Odd and even sides; tiles of the frame's own (a multiple of 16)
        // and gathered 512-pixel ones around a resident block.
        ExpectHalved<std::uint8_t>(info, 1031, 517, TileProps(256));
        ExpectHalved<std::uint8_t>(info, 1100, 35, utl::CPropSet());
    }
}

TEST_F(PyramidTest, LevelsHalvedOnTheSecondThreadWhileWrittenAreMeansToo)
{
    // 153 tiles of 128: the first level is halved beside its writes, and
    // the second and third (45 and 15 tiles) beside theirs, each tile of
    // the second written once its quarters are halved.
    // Blue first, each tile is swapped to red first on that thread too.
    ExpectHalved<std::uint8_t>(img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB), 2100, 1100, TileProps(128));
    ExpectHalved<std::uint8_t>(img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR), 2100, 1100, TileProps(128));
    ExpectHalved<std::uint16_t>(img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), 2100, 1100, TileProps(128));
}

TEST_F(PyramidTest, WiderTypesAreHalvedAlike)
{
    ExpectHalved<std::int8_t>(img::CPixelInfo(utl::eInt8, 3, img::eColorSpaceRGB), 1027, 9, utl::CPropSet());
    ExpectHalved<std::uint16_t>(img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), 1031, 517, TileProps(256));
    ExpectHalved<std::int32_t>(img::CPixelInfo(utl::eInt32, 3, img::eColorSpaceBGR), 1033, 20, utl::CPropSet());
    ExpectHalved<float>(img::CPixelInfo(utl::eFloat, 1, img::eColorSpaceGray), 1025, 17, TileProps(128));
}

}  // namespace
