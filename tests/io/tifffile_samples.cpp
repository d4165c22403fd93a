// Writes sample documents as OME-TIFF into a folder, with what a reader
// must find in them: check_with_tifffile.py reads both with tifffile.
//
// manifest.json lists per file the OME series in order, each with its
// axes and shape as tifffile names them, the element type, the raw file
// holding the expected pixels (planes in order, rows of pixels, samples
// red first), the physical sizes, channel names and pyramid levels.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/io/ome_tiff.h"
#include "imgscope/mosaic/mosaic_scope.h"
#include "tests/io/ramp.h"

#include <boost/make_shared.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const utl::CUnit kMicro(utl::eQuantityLength, 1, -6);

struct tSeries {
    std::string axes;
    std::vector<int> shape;
    std::string dtype;
    std::string raw;
    double physicalX = 0.0, physicalY = 0.0, physicalZ = 0.0;
    std::vector<std::string> channels;
    int levels = 0;
};

// The expected pixels of every plane of a layer, red first.
std::vector<std::uint8_t> Expected(mem::CDataFrame const& frame)
{
    const geo::CiRect r = frame.GetBoundary().Reduce();
    const int px = frame.GetElementInfo().Size();
    const geo::CiVolumeN planes = frame.GetPlaneAssortment().GetBoundary();
    std::vector<geo::CiVecN> keys;
    if (planes.GetDimension() == 0)
        keys.emplace_back();
    else
        for (auto it = planes.begin(0), end = planes.end(0); it != end; ++it)
            keys.push_back(*it);
    std::vector<std::uint8_t> all;
    for (auto const& key : keys) {
        std::vector<std::uint8_t> plane(std::size_t(r.Area()) * std::size_t(px));
        frame.ReadRect(r, key, plane.data(), 0);
        if (frame.GetElementInfo().GetColorSpace() == img::eColorSpaceBGR)
            for (std::size_t i = 0; i + 2 < plane.size(); i += std::size_t(px))
                std::swap(plane[i], plane[i + 2]);
        all.insert(all.end(), plane.begin(), plane.end());
    }
    return all;
}

void WriteRaw(std::string const& path, std::vector<std::uint8_t> const& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string Json(std::string const& file, std::vector<tSeries> const& series)
{
    std::ostringstream o;
    o.precision(17);
    o << "{\"file\": \"" << file << "\", \"series\": [";
    for (std::size_t i = 0; i < series.size(); ++i) {
        tSeries const& s = series[i];
        o << (i ? ", " : "") << "{\"axes\": \"" << s.axes << "\", \"shape\": [";
        for (std::size_t k = 0; k < s.shape.size(); ++k)
            o << (k ? ", " : "") << s.shape[k];
        o << "], \"dtype\": \"" << s.dtype << "\", \"raw\": \"" << s.raw << "\", \"physical\": [" << s.physicalX
          << ", " << s.physicalY << ", " << s.physicalZ << "], \"levels\": " << s.levels << ", \"channels\": [";
        for (std::size_t k = 0; k < s.channels.size(); ++k)
            o << (k ? ", " : "") << "\"" << s.channels[k] << "\"";
        o << "]}";
    }
    o << "]}";
    return o.str();
}

// A gray16 z-stack of five planes, calibrated, with tiles left unwritten.
std::string ZStack(std::string const& dir)
{
    img::CImg doc;
    utl::CPropSet props;
    props.SetValue(mem::ePropTileSize, geo::CiVec3(256, 256, 1));
    auto frame = mem::CDataFrame::Create(geo::CiVolumeN::FromPositionSize({0, 0, 0}, {700, 500, 5}),
                                         img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), props);
    for (int z = 0; z < 5; z += 2) {
        const auto bytes = io_test::Ramp(std::size_t(600 * 300 * 2), unsigned(z));
        frame->WriteRect(geo::CiRect(50, 100, 650, 400), {z}, bytes.data(), 0);
    }
    img::CStack stack(frame);
    const int id = doc.Add(stack);
    stack.SetName(L"z-stack");
    stack.SetOriginScale({0.0, 0.0}, {0.65, 0.65}, kMicro);
    stack.SetDimOriginScale(img::eDimZ, 0.0, 2.0, kMicro);
    stack.SetDimProperty(0, 2023, mem::CBin(int(img::eDimZ)));
    img::CDisplProcessFlow(doc, false).InsertLayer(-1, -3, id, utl::CIndexN(), -1);
    if (img::SaveDocument(doc, dir + "/zstack.ome.tif") != img::eFileOk)
        return {};
    WriteRaw(dir + "/zstack.raw", Expected(*frame));
    tSeries s{"ZYX", {5, 500, 700}, "uint16", "zstack.raw", 0.65, 0.65, 2.0, {}, 0};
    return Json("zstack.ome.tif", {s});
}

// RGB8 mosaic layers at two magnifications, filled by pastes, each with
// its transparency mask; the 10x layer in blue-green-red order.
std::string Mosaic(std::string const& dir)
{
    img::CImg doc;
    std::unique_ptr<img::CMosaikScope> mosaic(img::CreateMosaikImage(&doc));
    std::vector<tSeries> series;
    struct tMosaicLayer {
        double magnification;
        int colourSpace;
        int width, height;
        double micrometres;
    };
    const tMosaicLayer layers[] = {{10.0, img::eColorSpaceBGR, 3000, 2200, 0.5},
                                   {2.5, img::eColorSpaceRGB, 900, 700, 2.0}};
    std::vector<boost::shared_ptr<mem::CDataFrame>> frames;
    unsigned seed = 100;
    for (tMosaicLayer const& layer : layers) {
        const img::CPixelInfo info(utl::eUInt8, 3, layer.colourSpace);
        const utl::TUnitValue<geo::CdRect> phys(kMicro, geo::CdRect(0, 0, layer.width * layer.micrometres,
                                                                     layer.height * layer.micrometres));
        if (!mosaic->CreateLayer(layer.magnification, info, mem::eMemoryDefault, 2, 95,
                                 geo::CiVolumeN::FromPositionSize({0, 0, 0}, {layer.width, layer.height, 1}), phys,
                                 utl::CPropSet(), img::eStackPicture, false, false))
            return {};
        for (int ty = 0; ty < 2; ++ty) {
            for (int tx = 0; tx < 3; ++tx) {
                auto tile = boost::make_shared<mem::CDataFrame>(geo::CiVolumeN(geo::CiRect(0, 0, 300, 200)), info);
                const auto bytes = io_test::Ramp(300 * 200 * 3, seed++);
                tile->WriteRect(geo::CiRect(0, 0, 300, 200), {}, bytes.data(), 0);
                mosaic->Paste(tile, geo::CiVecN{37 + tx * 280, 11 + ty * 190, 0});
            }
        }
        frames.push_back(mosaic->GetActiveDataFrame());
    }
    if (img::SaveDocument(doc, dir + "/mosaic.ome.tif") != img::eFileOk)
        return {};
    // Series follow the layer IDs.
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string raw = "mosaic" + std::to_string(i) + ".raw";
        WriteRaw(dir + "/" + raw, Expected(*frames[i]));
        const int levels = layers[i].width > 1024 ? 2 : 0;
        series.push_back({"YXS", {layers[i].height, layers[i].width, 3}, "uint8", raw, layers[i].micrometres,
                          layers[i].micrometres, 0.0, {}, levels});
    }
    return Json("mosaic.ome.tif", series);
}

// Three named channels along a channel dimension.
std::string Channels(std::string const& dir)
{
    img::CImg doc;
    auto frame = mem::CDataFrame::Create(geo::CiVolumeN::FromPositionSize({0, 0, 0}, {96, 80, 3}),
                                         img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray), utl::CPropSet());
    for (int c = 0; c < 3; ++c) {
        const auto bytes = io_test::Ramp(96 * 80, 50 + unsigned(c));
        frame->WriteRect(geo::CiRect(0, 0, 96, 80), {c}, bytes.data(), 0);
    }
    img::CStack stack(frame);
    const int id = doc.Add(stack);
    stack.SetDimProperty(0, 2023, mem::CBin(int(img::eDimChannel)));
    stack.SetChannelDim(0);
    const wchar_t* names[] = {L"DAPI", L"GFP", L"mCherry"};
    for (int c = 0; c < 3; ++c)
        stack.SetChannelName(names[c], c);
    stack.SetOriginScale({0.0, 0.0}, {0.1, 0.2}, utl::CUnit(utl::eQuantityLength, 1, -9));
    img::CDisplProcessFlow(doc, false).InsertLayer(-1, -3, id, utl::CIndexN(), -1);
    if (img::SaveDocument(doc, dir + "/channels.ome.tif") != img::eFileOk)
        return {};
    WriteRaw(dir + "/channels.raw", Expected(*frame));
    // 0.1 nm and 0.2 nm are 1e-4 and 2e-4 µm.
    tSeries s{"CYX", {3, 80, 96}, "uint8", "channels.raw", 1e-4, 2e-4, 0.0, {"DAPI", "GFP", "mCherry"}, 0};
    return Json("channels.ome.tif", {s});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: tifffile_samples FOLDER\n";
        return 2;
    }
    const std::string dir = argv[1];
    const std::string entries[] = {ZStack(dir), Mosaic(dir), Channels(dir)};
    std::ofstream manifest(dir + "/manifest.json");
    manifest << "[";
    for (std::size_t i = 0; i < 3; ++i) {
        if (entries[i].empty()) {
            std::cerr << "saving sample " << i << " failed\n";
            return 1;
        }
        manifest << (i ? ",\n" : "") << entries[i];
    }
    manifest << "]\n";
    return 0;
}
