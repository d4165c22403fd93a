// Documents for the file tests: one that holds every kind of state the
// file must carry, pixel helpers, and scratch files that clean up.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/io/document_compare.h"
#include "imgscope/io/ome_tiff.h"
#include "tests/io/ramp.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

namespace io_test {

const utl::CUnit kMicro(utl::eQuantityLength, 1, -6);
const utl::CUnit kMilli(utl::eQuantityTime, 1, -3);

// A folder of its own per test and process (other build trees may run the
// same test at once), removed with everything in it.
class ScratchDir {
public:
    ScratchDir()
    {
        auto const* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("imgscope_io_") + (info ? info->test_suite_name() : "x") + "_" +
                           (info ? info->name() : "y") + "_" + std::to_string(getpid());
        for (char& c : name)
            if (c == '/')
                c = '_';
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string File(std::string const& name) const { return (m_path / name).string(); }
    std::filesystem::path const& Path() const { return m_path; }
    // Names in the folder, to see that no temporary file is left.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (auto const& e : std::filesystem::directory_iterator(m_path))
            names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::filesystem::path m_path;
};

// Writes ramp pixels into `rect` of one plane.
inline void Paint(mem::CDataFrame& frame, geo::CiRect const& rect, geo::CiVecN const& plane, unsigned seed)
{
    const auto bytes = Ramp(std::size_t(rect.Area()) * std::size_t(frame.GetElementInfo().Size()), seed);
    ASSERT_TRUE(frame.WriteRect(rect, plane, bytes.data(), 0));
}

inline boost::shared_ptr<mem::CDataFrame> MakeFrame(geo::CiVecN const& position, geo::CiVecN const& size,
                                                    img::CPixelInfo const& info, utl::CPropSet props = utl::CPropSet())
{
    auto frame = mem::CDataFrame::Create(geo::CiVolumeN::FromPositionSize(position, size), info, props);
    EXPECT_TRUE(frame);
    return frame;
}

inline utl::CPropSet TileProps(int tile, int model = mem::eMemoryTiled)
{
    utl::CPropSet props;
    props.SetValue(mem::ePropTileSize, geo::CiVec3(tile, tile, 1));
    props.SetValue(mem::ePropMemoryModel, model);
    return props;
}

// One value of every storable type code but pointers, some with units.
inline utl::CPropSet EveryValueType()
{
    utl::CPropSet nested;
    nested.SetValue(1, std::int32_t(-7));
    utl::CPropSet inner;
    inner.SetValue(3, CString(L"deep"));
    nested.SetValue(2, boost::make_shared<utl::CPropSet>(inner));
    utl::CPropSet p;
    p.SetValue(1, std::int8_t(-128));
    p.SetValue(2, std::uint8_t(255));
    p.SetValue(3, std::int16_t(-32768));
    p.SetValue(4, std::uint16_t(65535));
    p.SetValue(5, std::numeric_limits<std::int32_t>::min());
    p.SetValue(6, std::numeric_limits<std::uint32_t>::max());
    p.SetValue(7, std::numeric_limits<std::int64_t>::min());
    p.SetValue(8, std::numeric_limits<std::uint64_t>::max());
    p.SetValue(9, 0.1f);
    p.SetValue(10, -0.0);
    p.SetValue(11, true);
    // Control characters, a carriage return, markup and a character past
    // the basic plane.
    p.SetValue(12, CString(std::wstring(L"a\x01<b>&\r\n\"\U0001F52C")));
    p.SetValue(14, geo::CiVec2(-1, 2));
    p.SetValue(15, geo::CiVec3(1, -2, 3));
    p.SetValue(16, geo::CdVec2(1e-300, std::numeric_limits<double>::quiet_NaN()));
    p.SetValue(17, geo::CiVecN{4, 5, 6});
    p.SetValue(18, utl::CIndexN{});
    p.SetValue(19, geo::CiRect(1, 2, 3, 4));
    p.SetValue(20, geo::CdRect(0.5, -0.25, std::numeric_limits<double>::infinity(), 1.0 / 3.0));
    p.SetValue(21, utl::TInterval<double>(-1.5, 2.5));
    p.SetValue(22, boost::make_shared<utl::CPropSet>(nested));
    p.SetValue(23, geo::CiVolumeN::FromPositionSize(geo::CiVecN{1, 2, 3}, geo::CiVecN{4, 0, 6}));
    p.SetValue(24, utl::TInterval<int>(-3, 9));
    p.SetValue(25, geo::CdVec3(1.25, 2.5, -3.75));
    p.SetProperty(26, mem::CBin(0.65, kMicro));
    p.SetProperty(27, mem::CBin(std::int64_t(40), kMilli));
    p.SetProperty(28, mem::CBin(boost::shared_ptr<utl::CPropSet>()));
    return p;
}

// Layer IDs of the rich document.
struct tRich {
    int zstack = 1, rgb = 2, channels = 3, resident = 5, vector = 6, wide = 7;
    int group = -1;  // plane ID of the group
};

// A document holding every kind of state the file carries: pixel types,
// sparse and uniform tiles, N-D planes, samples with a gap, a frame kept
// apart, masks, filters, properties of every level and type, groups,
// selections and the canvas.
inline img::CImg BuildRichDocument(tRich* ids = nullptr)
{
    tRich r;
    img::CImg doc;
    img::CDisplProcessFlow flow(doc, false);
    const utl::CPropSet values = EveryValueType();
    for (int id : values.GetPropertyList())
        doc.SetProperty(id, *values.AccessProperty(id));
    utl::CPropSet dyn1, dyn2;
    dyn1.SetValue(120060, 20.0);
    dyn2.SetValue(5, CString(L"second"));
    img::SetDynPropStorage(doc, {boost::make_shared<utl::CPropSet>(dyn1), boost::make_shared<utl::CPropSet>(dyn2)});

    // 1: a gray16 z-stack at an offset, 128-pixel tiles, partly written.
    auto z = MakeFrame({10, -5, 0}, {300, 200, 4}, img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), TileProps(128));
    Paint(*z, geo::CiRect(10, -5, 138, 123), {1}, 1);    // exactly one tile
    Paint(*z, geo::CiRect(200, 100, 310, 195), {3}, 2);  // partial edge tiles
    img::CStack zs(z);
    EXPECT_EQ(doc.Add(r.zstack, zs), r.zstack);
    zs.SetName(L"z-stack");
    zs.SetOriginScale({1.5, -2.0}, {0.65, 0.65}, kMicro);
    zs.SetDimOriginScale(img::eDimZ, 0.0, 2.0, kMicro);
    zs.SetDimProperty(0, 2023, mem::CBin(int(img::eDimZ)));
    zs.SetDimProperty(0, 2, 2014, mem::CBin(3.5, kMicro));
    zs.SetProperty(utl::CIndexN{2}, 2014, mem::CBin(4.0, kMicro));
    zs.SetProperty(2074, mem::CBin(0));
    zs.SetBlob(mem::CBin(CString(L"blob")), 4);
    zs.SetBlob(mem::CBin(boost::make_shared<utl::CPropSet>(values)), -9);
    zs.SetDispLimits(utl::TInterval<double>(100.0, 4000.0), -1);
    zs.SetLUT({utl::CBGR8(0, 0, 0), utl::CBGR8(10, 200, 30)}, -1);
    zs.SetChannelName(L"DAPI", 0);
    zs.SetXYFixed(true);

    // 2: an RGB8 layer in blue-green-red order, larger than a pyramid's
    // stop size, with a mask and a white fill.
    utl::CPropSet rgbProps = TileProps(512);
    std::uint8_t white[3] = {250, 251, 252};
    rgbProps.SetValue(mem::ePropFillValue, static_cast<void*>(white));
    auto rgb = MakeFrame({0, 0}, {1500, 1100}, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR), rgbProps);
    Paint(*rgb, geo::CiRect(0, 0, 512, 512), {}, 3);
    Paint(*rgb, geo::CiRect(700, 600, 1500, 1100), {}, 4);
    std::uint8_t grey[3] = {9, 8, 7};
    rgb->Fill(geo::CiVolumeN(geo::CiRect(512, 0, 1024, 512)), grey);  // a uniform tile
    img::CStack rs(rgb);
    EXPECT_EQ(doc.Add(r.rgb, rs), r.rgb);
    rs.SetName(L"colour");
    rs.SetOriginScale({0.0, 0.0}, {0.25, 0.3}, kMicro);
    rs.SetLUT({utl::CBGR8(1, 2, 3)}, -1);
    rs.RemoveLUT(1);
    rs.SetLUT({utl::CBGR8(4, 5, 6), utl::CBGR8(7, 8, 9)}, 2);
    rs.SetDispLimits(utl::TInterval<double>(5.0, 250.0), 1);
    auto sample1 = MakeFrame({0, 0}, {40, 30}, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray));
    Paint(*sample1, geo::CiRect(0, 0, 40, 30), {}, 5);
    auto sample2 = MakeFrame({0, 0}, {20, 10}, img::CPixelInfo(utl::eInt16, 1, img::eColorSpaceGray));
    auto sample3 = MakeFrame({0, 0}, {16, 16}, img::CPixelInfo(utl::eFloat, 1, img::eColorSpaceGray));
    Paint(*sample3, geo::CiRect(0, 0, 16, 16), {}, 6);
    rs.AddSample(sample1, img::eSampleReference);
    rs.AddSample(sample2, img::eSampleNone);
    rs.AddSample(sample3, img::eSamplePreview);
    rs.RemoveSample(2);

    // 3: three channels along a channel dimension, named.
    auto ch = MakeFrame({0, 0, 0}, {64, 48, 3}, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray), TileProps(32));
    for (int c = 0; c < 3; ++c)
        Paint(*ch, geo::CiRect(0, 0, 64, 48), {c}, 10 + unsigned(c));
    img::CStack cs(ch);
    EXPECT_EQ(doc.Add(r.channels, cs), r.channels);
    cs.SetName(L"channels");
    cs.SetDimProperty(0, 2023, mem::CBin(int(img::eDimChannel)));
    cs.SetChannelDim(0);
    cs.SetChannelName(L"red", 0);
    cs.SetChannelName(L"green", 1);
    cs.SetChannelName(L"blue", 2);
    cs.SetDispLimits(utl::TInterval<double>(0.0, 128.0), 2);

    // 4 is taken and removed again: layer IDs keep their gaps.
    auto gone = MakeFrame({0, 0}, {4, 4}, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray));
    EXPECT_EQ(doc.Add(4, img::CStack(gone)), 4);
    doc.Remove(4);

    // 5: a float layer held in one block, with a frame kept apart.
    utl::CPropSet residentProps = TileProps(64, mem::eMemoryResident);
    float fill = 1.5f;
    residentProps.SetValue(mem::ePropFillValue, static_cast<void*>(&fill));
    auto res = MakeFrame({0, 0, 0}, {33, 17, 2}, img::CPixelInfo(utl::eFloat, 1, img::eColorSpaceGray), residentProps);
    Paint(*res, geo::CiRect(0, 0, 33, 17), {0}, 7);
    img::CStack fs(res);
    EXPECT_EQ(doc.Add(r.resident, fs), r.resident);
    auto loose = img::CPixFrame::Create(geo::CiRect(0, 0, 33, 17), img::CPixelInfo(utl::eFloat, 1, img::eColorSpaceGray),
                                        mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
    std::vector<float> floats(33 * 17, -2.25f);
    loose->WriteRect(geo::CiRect(0, 0, 33, 17), floats.data(), 0, 0);
    EXPECT_TRUE(fs.SetFrame(utl::CIndexN{9}, loose));
    fs.SetDispLimits(utl::TInterval<double>(-1.0, 3.0), -1);

    // 6: a vector layer.
    auto graphic = boost::make_shared<img::CVecGraph>();
    img::CVecGraph::tShape line;
    line.bounds = geo::CdRect(1.5, 2.5, 30.0, 40.0);
    line.red = 200;
    graphic->Add(line);
    img::CVecGraph::tShape box;
    box.kind = img::CVecGraph::eEllipse;
    box.bounds = geo::CdRect(-3, -4, 5, 6);
    graphic->Add(box);
    EXPECT_EQ(doc.Add(r.vector, img::CStack(graphic)), r.vector);
    doc.FindStack(r.vector).SetName(L"outlines");

    // 7: 64-bit integers, which OME cannot name, with an RGB alpha layout.
    auto wide = MakeFrame({0, 0}, {20, 20}, img::CPixelInfo(utl::eInt64, 1, img::eColorSpaceGray).AddAlpha(1));
    Paint(*wide, geo::CiRect(0, 0, 20, 20), {}, 8);
    EXPECT_EQ(doc.Add(r.wide, img::CStack(wide)), r.wide);
    // 9 came and went: new layers continue after it.
    EXPECT_EQ(doc.Add(9, img::CStack(gone)), 9);
    doc.Remove(9);

    // The tree: the z-stack at the root, a group with the colour and channel
    // layers, the vector layer hidden; the float layer without an entry.
    const int zp = flow.InsertLayer(-1, -3, r.zstack, utl::CIndexN{2}, -1);
    r.group = flow.InsertGroup(-1, -3);
    flow.SetGroupName(r.group, L"10x");
    flow.LockGroup(r.group, true);
    flow.SetGroupSingular(r.group, true);
    flow.SetProperty(r.group, 120060, mem::CBin(10.0));
    const int rp = flow.InsertLayer(r.group, -3, r.rgb, utl::CIndexN(), -1);
    const int cp = flow.InsertLayer(r.group, -2, r.channels, utl::CIndexN{1}, -1);
    const int vp = flow.InsertLayer(-1, -2, r.vector, utl::CIndexN(), -1);
    flow.InsertLayer(-1, -3, r.wide, utl::CIndexN(), -1);
    flow.SetHidden(vp, true);
    flow.SetVisibility(zp, false);
    flow.SetGamma(rp, -1, 0.6);
    flow.SetVisibility(rp, 1, false);
    flow.SetLUT(rp, 0, {utl::CBGR8(9, 9, 9), utl::CBGR8(1, 1, 1)});
    flow.SetFunction(rp, 2, img::eFunctionMax);
    flow.SetProperty(rp, 2, 77, mem::CBin(std::int32_t(5)));
    flow.UseLUT(rp, 0);
    flow.SetLayerCanvasPlacement(rp, {10.0, 20.0}, {0.25, 0.3});
    auto mask = flow.CreateTransparencyMask(rp, 0);
    mask->Rectangle(geo::CiRect(0, 0, 1024, 512), 255, img::CMask::eCombineSet);  // uniform tiles
    mask->Rectangle(geo::CiRect(700, 600, 1300, 1000), 128, img::CMask::eCombineSet);
    flow.SetTransparencyMaskActive(rp, true);
    auto filter = boost::make_shared<img::CDisplayFilter>();
    for (int i = 0; i < 256; ++i)
        filter->table[i] = std::uint8_t(255 - i);
    flow.SetDisplayFilter(rp, filter);
    flow.SetSelectedChannels(cp, {0, 2});
    flow.SetFrameSelection(cp, {geo::CiVecN{0}, geo::CiVecN{2}});
    flow.SetActiveStackDim(cp, 0);
    flow.SetActiveOpLayer(cp);
    flow.SetActiveOpLayer(vp);
    flow.SetImagePlaneRect(geo::CiRect(0, 0, 800, 600));
    flow.SetImagePlaneCalibration({-5.0, 2.0}, {0.5, 0.5}, utl::CUnit2(kMicro, kMicro));
    flow.SetCanvasRectangle(geo::CdRect(-10, -10, 400, 300));
    img::CCanvasColor background, border;
    background[0] = 10;
    border[2] = 200;
    flow.SetCanvasColors(background, border);
    if (ids)
        *ids = r;
    return doc;
}

// Saves and opens again; fails the test when either step fails.
inline img::CImg RoundTrip(img::CImg const& doc, std::string const& path,
                           img::tSaveOptions const& options = img::tSaveOptions())
{
    img::CImg opened;
    EXPECT_EQ(img::SaveDocument(doc, path, options), img::eFileOk);
    EXPECT_EQ(img::OpenDocument(path, opened), img::eFileOk);
    return opened;
}

}  // namespace io_test
