// TIFF and OME-TIFF files written by other programs (here by libtiff
// directly): plain layers with their pixels, sizes and names.
#include "tests/io/io_documents.h"

#include <tiffio.h>

#include <cstring>
#include <functional>

namespace {

using namespace io_test;

// Writes one directory per call of `page` into a classic TIFF.
void WriteTiff(std::string const& path, int pages, std::function<void(TIFF*, int)> const& page)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (int i = 0; i < pages; ++i) {
        page(tif, i);
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
}

void Basics(TIFF* tif, std::uint32_t w, std::uint32_t h, int samples, int bits, int format, int photometric)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

// A gray 8-bit page of `side` × `side` pixels of `value`, described as
// `description` when one is given.
void UniformPage(TIFF* tif, std::uint32_t side, std::uint8_t value, char const* description = nullptr)
{
    Basics(tif, side, side, 1, 8, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK);
    if (description)
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description);
    std::vector<std::uint8_t> row(side, value);
    for (std::uint32_t y = 0; y < side; ++y)
        TIFFWriteScanline(tif, row.data(), y, 0);
}

template <class T>
T Pixel(img::CImg const& doc, int layer, int x, int y, geo::CiVecN const& plane = {}, int component = 0)
{
    auto frame = doc.FindStack(layer).GetDataFrame(0);
    std::vector<std::uint8_t> bytes(std::size_t(frame->GetElementInfo().Size()));
    EXPECT_TRUE(frame->ReadRect(geo::CiRect(x, y, x + 1, y + 1), plane, bytes.data(), 0));
    T v{};
    std::memcpy(&v, bytes.data() + component * sizeof(T), sizeof(T));
    return v;
}

class ForeignFilesTest : public ::testing::Test {
protected:
    ScratchDir dir;
    img::CImg doc;

    img::EFileResult Open(std::string const& name) { return img::OpenDocument(dir.File(name), doc); }
};

TEST_F(ForeignFilesTest, StrippedPagesBecomeCalibratedLayersInOrder)
{
    WriteTiff(dir.File("pages.tif"), 2, [](TIFF* tif, int i) {
        Basics(tif, 30, 20, 1, 8, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 7);  // a short last strip
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 10000.0f / 0.5f);  // 0.5 µm
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 10000.0f / 0.25f);
        if (i == 1)
            TIFFSetField(tif, TIFFTAG_PAGENAME, "second");
        std::vector<std::uint8_t> row(30);
        for (std::uint32_t y = 0; y < 20; ++y) {
            for (std::uint32_t x = 0; x < 30; ++x)
                row[x] = std::uint8_t(x + 3 * y + 100 * i);
            TIFFWriteScanline(tif, row.data(), y, 0);
        }
    });
    ASSERT_EQ(Open("pages.tif"), img::eFileOk);
    ASSERT_EQ(doc.GetStackCount(), 2u);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 1, 29, 19), 29 + 57);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 2, 4, 15), 4 + 45 + 100);
    EXPECT_EQ(doc.FindStack(1).GetName().Str(), L"Page 1");
    EXPECT_EQ(doc.FindStack(2).GetName().Str(), L"second");
    double origin = 0, scale = 0;
    utl::CUnit unit;
    ASSERT_TRUE(doc.FindStack(2).GetDimOriginScale(img::eDimY, origin, scale, unit));
    EXPECT_NEAR(scale, 0.25, 1e-6);
    EXPECT_EQ(unit, kMicro);
    img::CDisplProcessFlow flow(doc, false);
    EXPECT_EQ(flow.GetOpUnitCount(flow.RootId()), 2);
}

TEST_F(ForeignFilesTest, TiledCompressedAndSeparatePlanesKeepTheirSamples)
{
    WriteTiff(dir.File("mixed.tif"), 3, [](TIFF* tif, int i) {
        if (i == 0) {  // RGB16 in deflated tiles, one tile never written
            Basics(tif, 40, 20, 3, 16, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB);
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 32);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
            std::vector<std::uint16_t> tile(32 * 16 * 3);
            for (std::size_t k = 0; k < tile.size(); ++k)
                tile[k] = std::uint16_t(k * 11);
            TIFFWriteEncodedTile(tif, 0, tile.data(), tmsize_t(tile.size() * 2));
        } else if (i == 1) {  // RGB8, each sample in a plane of its own
            Basics(tif, 5, 4, 3, 8, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB);
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
            for (std::uint16_t s = 0; s < 3; ++s) {
                std::vector<std::uint8_t> plane(20, std::uint8_t(10 * (s + 1)));
                TIFFWriteEncodedStrip(tif, s, plane.data(), 20);
            }
        } else {  // float in tiles, with alpha
            Basics(tif, 16, 16, 2, 32, SAMPLEFORMAT_IEEEFP, PHOTOMETRIC_MINISBLACK);
            const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
            std::vector<float> tile(16 * 16 * 2, -1.25f);
            TIFFWriteEncodedTile(tif, 0, tile.data(), tmsize_t(tile.size() * 4));
        }
    });
    ASSERT_EQ(Open("mixed.tif"), img::eFileOk);
    ASSERT_EQ(doc.GetStackCount(), 3u);
    EXPECT_EQ(doc.FindStack(1).GetPixelInfo(0), img::CPixelInfo(utl::eUInt16, 3, img::eColorSpaceRGB));
    EXPECT_EQ(Pixel<std::uint16_t>(doc, 1, 1, 0, {}, 2), std::uint16_t(5 * 11));
    EXPECT_EQ(Pixel<std::uint16_t>(doc, 1, 31, 15, {}, 0), std::uint16_t((15 * 32 + 31) * 3 * 11));
    EXPECT_EQ(doc.FindStack(1).GetDataFrame(0)->GetTileCount(), 1);  // the missing tile stays missing
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 2, 4, 3, {}, 2), 30);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 2, 4, 3, {}, 0), 10);
    EXPECT_EQ(doc.FindStack(3).GetPixelInfo(0), img::CPixelInfo(utl::eFloat, 1, img::eColorSpaceGray).AddAlpha(1));
    EXPECT_EQ(Pixel<float>(doc, 3, 15, 15, {}, 1), -1.25f);
}

TEST_F(ForeignFilesTest, PalettesAndBitsGoThroughRgba)
{
    WriteTiff(dir.File("palette.tif"), 2, [](TIFF* tif, int i) {
        if (i == 0) {
            Basics(tif, 8, 2, 1, 8, SAMPLEFORMAT_UINT, PHOTOMETRIC_PALETTE);
            std::vector<std::uint16_t> r(256), g(256), b(256);
            r[3] = 0xFFFF;
            g[3] = 0x8080;
            TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
            std::vector<std::uint8_t> row(8, 3);
            TIFFWriteScanline(tif, row.data(), 0, 0);
            TIFFWriteScanline(tif, row.data(), 1, 0);
        } else {
            Basics(tif, 16, 1, 1, 1, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK);
            const std::uint8_t row[2] = {0xF0, 0x0F};  // 11110000 00001111
            TIFFWriteScanline(tif, const_cast<std::uint8_t*>(row), 0, 0);
        }
    });
    ASSERT_EQ(Open("palette.tif"), img::eFileOk);
    ASSERT_EQ(doc.GetStackCount(), 2u);
    EXPECT_EQ(doc.FindStack(1).GetPixelInfo(0), img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB).AddAlpha(1));
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 1, 7, 1, {}, 0), 255);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 1, 7, 1, {}, 1), 128);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 1, 7, 1, {}, 3), 255);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 2, 0, 0), 255);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 2, 4, 0), 0);
    EXPECT_EQ(Pixel<std::uint8_t>(doc, 2, 15, 0), 255);
}

TEST_F(ForeignFilesTest, ReducedPagesAreNoLayers)
{
    WriteTiff(dir.File("reduced.tif"), 2, [](TIFF* tif, int i) {
        if (i == 1)
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
        UniformPage(tif, 8, 1);
    });
    ASSERT_EQ(Open("reduced.tif"), img::eFileOk);
    EXPECT_EQ(doc.GetStackCount(), 1u);
}

// An OME-TIFF of another program: z, channel and time planes in its own
// order, sizes in nanometres, named channels, one plane missing.
TEST_F(ForeignFilesTest, OmeImagesBecomeLayersWithTheirAxes)
{
    const std::string xml =
        "<?xml version=\"1.0\"?><!-- written elsewhere -->"
        "<ome:OME xmlns:ome=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\">"
        "<ome:Image ID=\"Image:0\" Name=\"cells\"><ome:Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZCT\" "
        "Type=\"uint16\" SizeX=\"6\" SizeY=\"5\" SizeZ=\"2\" SizeC=\"3\" SizeT=\"1\" PhysicalSizeX=\"650\" "
        "PhysicalSizeXUnit=\"nm\" PhysicalSizeY=\"0.65\" PhysicalSizeZ=\"2\">"
        "<ome:Channel ID=\"Channel:0:0\" Name=\"DAPI\"/><ome:Channel ID=\"Channel:0:1\" Name=\"GFP &amp; co\"/>"
        "<ome:Channel ID=\"Channel:0:2\"/>"
        "<ome:TiffData IFD=\"0\" PlaneCount=\"3\"/><ome:TiffData FirstZ=\"1\" FirstC=\"1\" IFD=\"3\" PlaneCount=\"2\"/>"
        "</ome:Pixels></ome:Image></ome:OME>";
    WriteTiff(dir.File("cells.ome.tif"), 5, [&](TIFF* tif, int i) {
        Basics(tif, 6, 5, 1, 16, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK);
        if (i == 0)
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, xml.c_str());
        std::vector<std::uint16_t> row(6, std::uint16_t(1000 + i));
        for (std::uint32_t y = 0; y < 5; ++y)
            TIFFWriteScanline(tif, row.data(), y, 0);
    });
    ASSERT_EQ(Open("cells.ome.tif"), img::eFileOk);
    ASSERT_EQ(doc.GetStackCount(), 1u);
    img::CStack s = doc.FindStack(1);
    EXPECT_EQ(s.GetName().Str(), L"cells");
    // Planes slowest first: channel, then z; plane (c, z) is IFD z + 2c
    // for the first three, and (1, 1), (2, 0) come from IFDs 3 and 4.
    ASSERT_EQ(s.DimCount(0), 2);
    EXPECT_EQ(s.GetChannelDim(), 0);
    for (int k = 0; k < 6; ++k)  // (2, 1) is in no IFD
        EXPECT_EQ(Pixel<std::uint16_t>(doc, 1, 5, 4, {k / 2, k % 2}), k < 5 ? 1000 + k : 0) << k;
    CString name;
    ASSERT_TRUE(s.GetChannelName(name, 1));
    EXPECT_EQ(name.Str(), L"GFP & co");
    EXPECT_FALSE(s.GetChannelName(name, 2));
    double origin = 0, scale = 0;
    utl::CUnit unit;
    ASSERT_TRUE(s.GetDimOriginScale(img::eDimX, origin, scale, unit));
    EXPECT_DOUBLE_EQ(scale, 0.65);
    ASSERT_TRUE(s.GetDimOriginScale(img::eDimZ, origin, scale, unit));
    EXPECT_DOUBLE_EQ(scale, 2.0);
    mem::CBin type;
    ASSERT_TRUE(s.GetDimProperty(1, 2023, type));
    EXPECT_EQ(type.GetOr(0), int(img::eDimZ));
}

// The OME-XML reader through files whose descriptions stretch XML: what
// parses gives an OME layer named by the image, what does not gives a
// plain page.
TEST_F(ForeignFilesTest, OmeXmlIsReadAsXmlReadersDo)
{
    const std::string pixels = "<Pixels DimensionOrder=\"XYCZT\" Type=\"uint8\" SizeX=\"4\" SizeY=\"4\" SizeZ=\"1\" "
                               "SizeC=\"1\" SizeT=\"1\"><TiffData/></Pixels>";
    std::string nested;
    for (int i = 0; i < 300; ++i)
        nested += "<a>";
    for (int i = 0; i < 300; ++i)
        nested += "</a>";
    const std::pair<std::string, std::wstring> cases[] = {
        {"<?xml version='1.0' encoding='UTF-8'?>\n<!-- c --><OME><Image Name='a&lt;b&#62;&#x263A;'>" + pixels +
             "</Image></OME>",
         L"a<b>\u263A"},
        {"<!DOCTYPE OME><OME><Image Name=\"x\"><![CDATA[<not markup>]]>" + pixels + "</Image></OME>", L"x"},
        // An internal subset could define entities that expand without end.
        {"<!DOCTYPE OME [<!ENTITY a \"aaaa\">]><OME><Image Name=\"&a;\">" + pixels + "</Image></OME>", L"Page 1"},
        {"<OME><Image Name=\"&unknown;\">" + pixels + "</Image></OME>", L"Page 1"},
        {"<OME><Image Name=\"x\">" + nested + pixels + "</Image></OME>", L"Page 1"},
        {"<OME><Image Name=\"x\">" + pixels + "</Image></OME><OME/></OME>", L"Page 1"},
        {"<OME><Image Name=\"x\">" + pixels + "</Imag></OME>", L"Page 1"},
    };
    int i = 0;
    for (auto const& c : cases) {
        SCOPED_TRACE(c.first.substr(0, 60));
        const std::string name = "xml" + std::to_string(i++) + ".tif";
        WriteTiff(dir.File(name), 1, [&](TIFF* tif, int) { UniformPage(tif, 4, 5, c.first.c_str()); });
        doc = img::CImg();
        ASSERT_EQ(Open(name), img::eFileOk);
        ASSERT_EQ(doc.GetStackCount(), 1u);
        EXPECT_EQ(doc.FindStack(1).GetName().Str(), c.second);
        EXPECT_EQ(Pixel<std::uint8_t>(doc, 1, 3, 3), 5);
    }
}

}  // namespace
