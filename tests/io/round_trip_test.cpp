// Saving and opening documents: what comes back equals what was saved,
// sparse layers stay sparse, and the file layout follows the options.
#include "tests/io/io_documents.h"

#include "imgscope/mosaic/mosaic_scope.h"

#include <tiffio.h>

#include <memory>

namespace {

using namespace io_test;

class RoundTripTest : public ::testing::Test {
protected:
    ScratchDir dir;

    // Saves as `name` and opens again, expecting what was saved; returns
    // what was opened.
    img::CImg ExpectRoundTrip(img::CImg const& doc, img::tSaveOptions const& options = img::tSaveOptions(),
                              std::string const& name = "doc.ome.tif")
    {
        const img::CImg opened = RoundTrip(doc, dir.File(name), options);
        std::string difference;
        EXPECT_TRUE(img::CompareDocuments(doc, opened, &difference)) << difference;
        return opened;
    }
};

TEST_F(RoundTripTest, RichDocumentComesBackEqualWithEveryCompression)
{
    const img::CImg doc = BuildRichDocument();
    const std::pair<img::ECompression, int> cases[] = {{img::eCompressionNone, -1},
                                                       {img::eCompressionDeflate, -1},
                                                       {img::eCompressionDeflate, 9},
                                                       {img::eCompressionZstd, 3}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.first * 100 + c.second);
        img::tSaveOptions options;
        options.compression = c.first;
        options.level = c.second;
        ExpectRoundTrip(doc, options);
    }
    img::tSaveOptions flat;
    flat.pyramid = false;
    ExpectRoundTrip(doc, flat);
}

// Every element type with one, three (either byte order) and alpha
// components, in tiles TIFF can take as they are (48), tiles it cannot
// (100: gathered into 512-pixel TIFF tiles) and one resident block.
TEST_F(RoundTripTest, EveryPixelTypeAndTileLayoutComesBackEqual)
{
    for (int type = utl::eInt8; type <= utl::eDouble; ++type) {
        for (int layout : {48, 100, 0}) {
            SCOPED_TRACE(std::to_string(type) + " tile " + std::to_string(layout));
            img::CImg doc;
            const img::CPixelInfo infos[] = {img::CPixelInfo(type, 1, img::eColorSpaceGray),
                                             img::CPixelInfo(type, 3, img::eColorSpaceBGR),
                                             img::CPixelInfo(type, 3, img::eColorSpaceRGB).AddAlpha(1),
                                             img::CPixelInfo(type, 5, img::eColorSpaceMulti)};
            unsigned seed = 0;
            for (img::CPixelInfo const& info : infos) {
                auto frame = MakeFrame({3, 7}, {130, 101}, info,
                                       layout ? TileProps(layout) : TileProps(64, mem::eMemoryResident));
                Paint(*frame, geo::CiRect(3, 7, 133, 60), {}, ++seed);
                Paint(*frame, geo::CiRect(120, 100, 133, 108), {}, ++seed);
                ASSERT_NE(doc.Add(img::CStack(frame)), -1);
            }
            ExpectRoundTrip(doc);
        }
    }
}

TEST_F(RoundTripTest, UnwrittenTilesStayUnwrittenInFileAndMemory)
{
    img::CImg doc;
    auto frame = MakeFrame({0, 0}, {100000, 80000}, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB));
    Paint(*frame, geo::CiRect(512 * 50, 512 * 40, 512 * 51, 512 * 41), {}, 1);    // one whole tile
    Paint(*frame, geo::CiRect(99990, 79990, 100000, 80000), {}, 2);              // the corner tile, partly
    doc.Add(img::CStack(frame));
    const img::CImg opened = ExpectRoundTrip(doc, {}, "sparse.ome.tif");
    auto back = opened.FindStack(1).GetDataFrame(0);
    EXPECT_EQ(back->GetTileCount(), 2);
    EXPECT_LE(back->GetAllocatedBytes(), 2 * 512 * 512 * 3);
    // Two tiles, the tables of 30772 tiles, the pyramid of two.
    EXPECT_LT(std::filesystem::file_size(dir.File("sparse.ome.tif")), std::uintmax_t(4) << 20);
}

TEST_F(RoundTripTest, UniformTilesAreStoredOnceAndStayWithoutMemory)
{
    tRich ids;
    img::CImg doc = BuildRichDocument(&ids);
    img::CDisplProcessFlow flow(doc, false);
    auto mask = flow.GetTransparencyMask(flow.FindLayer(ids.rgb));
    ASSERT_TRUE(mask);
    mask->Rectangle(geo::CiRect(0, 0, 1500, 1100), 77, img::CMask::eCombineSet);
    const img::CImg opened = ExpectRoundTrip(doc);
    img::CDisplProcessFlow openedFlow(opened, false);
    const auto backMask = openedFlow.GetTransparencyMask(openedFlow.FindLayer(ids.rgb));
    ASSERT_TRUE(backMask) << "the mask did not come back";
    auto back = backMask->GetPixFrame()->GetDataFrame();
    EXPECT_EQ(back->GetTileCount(), 9);
    EXPECT_EQ(back->GetAllocatedBytes(), 0);
    // The lone uniform grey tile of the colour layer: no memory either.
    EXPECT_EQ(opened.FindStack(ids.rgb).GetDataFrame(0)->GetAllocatedBytes(),
              doc.FindStack(ids.rgb).GetDataFrame(0)->GetAllocatedBytes());
}

TEST_F(RoundTripTest, DocumentsWithoutPixelsComeBackEqual)
{
    ExpectRoundTrip(img::CImg());
    img::CImg vectorOnly;
    auto graphic = boost::make_shared<img::CVecGraph>();
    graphic->Add(img::CVecGraph::tShape());
    vectorOnly.Add(img::CStack(graphic));
    img::CDisplProcessFlow(vectorOnly, false).InsertLayer(-1, -3, 1, utl::CIndexN(), -1);
    ExpectRoundTrip(vectorOnly);
    // A plane range of extent 0 and a frame of width 0: no IFD for either.
    img::CImg empty;
    empty.Add(img::CStack(MakeFrame({0, 0, 5}, {16, 16, 0}, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray))));
    empty.Add(img::CStack(MakeFrame({0, 0}, {0, 16}, img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray))));
    ExpectRoundTrip(empty);
}

TEST_F(RoundTripTest, ManyPlaneDimensionsComeBackInOrder)
{
    img::CImg doc;
    auto frame = MakeFrame({0, 0, 1, 0, 2, 0}, {40, 30, 2, 3, 2, 2}, img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray),
                           TileProps(16));
    unsigned seed = 0;
    const geo::CiVolumeN planes = frame->GetPlaneAssortment().GetBoundary();
    for (auto it = planes.begin(0), end = planes.end(0); it != end; ++it)
        Paint(*frame, geo::CiRect(0, 0, 40, 30), *it, ++seed);
    img::CStack stack(frame, true);
    doc.Add(stack);
    stack.SetDimProperty(0, 2023, mem::CBin(int(img::eDimTime)));
    stack.SetDimProperty(1, 2023, mem::CBin(int(img::eDimZ)));
    ExpectRoundTrip(doc);
}

TEST_F(RoundTripTest, PointersAreLeftOutAndEverythingElseStays)
{
    img::CImg doc = BuildRichDocument();
    int local = 0;
    utl::CPropSet withPointer;
    withPointer.SetValue(1, static_cast<void*>(&local));
    withPointer.SetValue(2, 3.5);
    doc.SetProperty(900, mem::CBin(static_cast<void*>(&local)));
    doc.SetProperty(901, mem::CBin(boost::make_shared<utl::CPropSet>(withPointer)));
    img::CImg opened = RoundTrip(doc, dir.File("pointer.ome.tif"));
    EXPECT_FALSE(opened.PropertyExists(900));
    EXPECT_FALSE(opened.PropertyExists(901));
    doc.DeleteProperty(900);
    doc.DeleteProperty(901);
    std::string difference;
    EXPECT_TRUE(img::CompareDocuments(doc, opened, &difference)) << difference;
}

TEST_F(RoundTripTest, ReopenedMosaicPicksTheSameLayers)
{
    img::CImg doc;
    std::unique_ptr<img::CMosaikScope> mosaic(img::CreateMosaikImage(&doc));
    const img::CPixelInfo rgb(utl::eUInt8, 3, img::eColorSpaceBGR);
    const utl::TUnitValue<geo::CdRect> phys(kMicro, geo::CdRect(0, 0, 1000, 800));
    for (double m : {2.5, 10.0, 5.0}) {
        utl::CPropSet props;
        props.SetValue(2015, std::int64_t(m * 10));
        ASSERT_TRUE(mosaic->CreateLayer(m, rgb, mem::eMemoryDefault, 2, 95,
                                        geo::CiVolumeN::FromPositionSize({0, 0, 0}, {2000, 1600, 1}), phys, props,
                                        img::eStackPicture, false, false));
        auto tile = MakeFrame({0, 0}, {300, 200}, rgb);
        Paint(*tile, geo::CiRect(0, 0, 300, 200), {}, unsigned(m));
        ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{123, 456, 0}));
    }
    img::CImg opened = ExpectRoundTrip(doc);
    std::unique_ptr<img::CMosaikScope> first(img::CreateMosaikImage(&doc));
    std::unique_ptr<img::CMosaikScope> again(img::CreateMosaikImage(&opened));
    EXPECT_EQ(again->GetActiveLayerID(), first->GetActiveLayerID());
    EXPECT_NE(again->GetActiveLayerID(), -1);
    EXPECT_EQ(again->GetVisibleLayerCount(), first->GetVisibleLayerCount());
}

TEST_F(RoundTripTest, LayerTilesBecomeTiffTilesWithAPyramidOfHalvedLevels)
{
    img::CImg doc;
    auto frame = MakeFrame({0, 0}, {2500, 1300}, img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), TileProps(256));
    std::vector<std::uint16_t> ones(4 * 4, 1000), threes(4 * 4, 3000);
    frame->WriteRect(geo::CiRect(0, 0, 4, 4), {}, ones.data(), 0);
    frame->WriteRect(geo::CiRect(2, 2, 4, 4), {}, threes.data(), 0);  // a 2 × 2 block of 3000 in a 4 × 4 of 1000
    doc.Add(img::CStack(frame));
    const std::string path = dir.File("pyramid.ome.tif");
    ASSERT_EQ(img::SaveDocument(doc, path), img::eFileOk);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::uint32_t tile = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile);
    EXPECT_EQ(tile, 256u);
    std::uint16_t count = 0;
    toff_t* subifds = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_SUBIFD, &count, &subifds));
    ASSERT_EQ(count, 2);  // 1250 × 650, then 625 × 325
    const toff_t second = subifds[1];
    ASSERT_TRUE(TIFFSetSubDirectory(tif, subifds[0]));
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    EXPECT_EQ(width, 1250u);
    EXPECT_EQ(height, 650u);
    std::vector<std::uint16_t> level(256 * 256);
    ASSERT_GT(TIFFReadEncodedTile(tif, 0, level.data(), tmsize_t(level.size() * 2)), 0);
    EXPECT_EQ(level[0], 1000);
    EXPECT_EQ(level[1], 1000);
    EXPECT_EQ(level[256 + 1], 3000);
    EXPECT_EQ(level[2], 0);  // fill value beyond the written pixels
    ASSERT_TRUE(TIFFSetSubDirectory(tif, second));
    ASSERT_GT(TIFFReadEncodedTile(tif, 0, level.data(), tmsize_t(level.size() * 2)), 0);
    EXPECT_EQ(level[0], 1500);  // the mean of 1000, 1000, 1000 and 3000 one level up
    TIFFClose(tif);
}

TEST_F(RoundTripTest, SavingOverAFileReplacesIt)
{
    const std::string path = dir.File("twice.ome.tif");
    ASSERT_EQ(img::SaveDocument(BuildRichDocument(), path), img::eFileOk);
    img::CImg small;
    small.Add(img::CStack(MakeFrame({0, 0}, {8, 8}, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray))));
    ExpectRoundTrip(small, {}, "twice.ome.tif");
    EXPECT_EQ(dir.Entries().size(), 1u);
}

}  // namespace
