// Mosaic documents for the tests: a mosaic over a document the test also
// inspects directly, layer specifications with everyday defaults, tiles of
// known pixels and readers of the layer tree.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_scope.h"
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include <boost/make_shared.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace mosaic_test {

using imgscope_test::kMicron;
using Mosaic = std::unique_ptr<img::CMosaikScope>;

const img::CPixelInfo kGray8(utl::eUInt8, 1, img::eColorSpaceGray);
const img::CPixelInfo kGray16(utl::eUInt16, 1, img::eColorSpaceGray);
const img::CPixelInfo kRgb8(utl::eUInt8, 3, img::eColorSpaceRGB);

// A mosaic layer volume at the origin: x, y and one plane.
inline geo::CiVolumeN Volume(int width, int height, int planes = 1)
{
    return geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{width, height, planes});
}

// Layer properties whose device set holds the magnification `m`.
inline utl::CPropSet DeviceMagnification(double m)
{
    utl::CPropSet device;
    device.SetValue(120060, m);
    utl::CPropSet props;
    props.SetValue(10048, boost::make_shared<utl::CPropSet>(device));
    return props;
}

// A raster layer with an entry in the tree, a stack type (none for -1) and
// an opening rank (none for kNoRank).
constexpr std::int64_t kNoRank = std::numeric_limits<std::int64_t>::min();
inline int AddTypedLayer(img::CImg& doc, int type, std::int64_t rank = kNoRank)
{
    const int id = imgscope_test::AddRasterLayer(doc, {8, 8, 1});
    img::CStack stack = doc.FindStack(id);
    if (type != -1)
        stack.SetProperty(2074, mem::CBin(type));
    if (rank != kNoRank)
        stack.SetProperty(2015, mem::CBin(rank));
    return id;
}

// The arguments of CreateLayer, with the values a scanner passes most.
struct tLayer {
    double magnification = 10.0;
    img::CPixelInfo info = kGray16;
    geo::CiVolumeN volume = Volume(1024, 1024);
    img::EStackType type = img::eStackPicture;
    bool opaqueFirst = false;
    bool zeroFill = false;
    utl::CPropSet props;
    utl::TUnitValue<geo::CdRect> phys{kMicron, geo::CdRect(0, 0, 512, 512)};

    bool CreateIn(img::CMosaikScope& mosaic) const
    {
        return mosaic.CreateLayer(magnification, info, mem::eMemoryDefault, 2, 95, volume, phys, props, type,
                                  opaqueFirst, zeroFill);
    }
};

// Bytes of a w × h tile whose every byte differs from its neighbours.
inline boost::shared_ptr<mem::CDataFrame> RampTile(int w, int h, img::CPixelInfo const& info, int seed,
                                                   geo::CiVecN const& origin = geo::CiVecN{0, 0})
{
    auto tile = boost::make_shared<mem::CDataFrame>(geo::CiVolumeN::FromPositionSize(origin, geo::CiVecN{w, h}), info);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w) * h * info.Size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251 + static_cast<std::size_t>(seed));
    tile->WriteRect(geo::CiRect(origin[0], origin[1], origin[0] + w, origin[1] + h), {}, bytes.data(), 0);
    return tile;
}

// One pixel's bytes of plane `plane` of a frame.
inline std::vector<std::uint8_t> PixelAt(mem::CDataFrame const& frame, int x, int y, geo::CiVecN const& plane = {})
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frame.GetElementInfo().Size()));
    frame.ReadRect(geo::CiRect(x, y, x + 1, y + 1), plane, bytes.data(), 0);
    return bytes;
}

// The root's units in order: a group by its name, a layer by "layer:" and
// its name.
inline std::vector<std::wstring> RootNames(img::CImg const& doc)
{
    img::CDisplProcessFlow flow(doc, false);
    std::vector<std::wstring> names;
    for (int i = 0; i < flow.GetOpUnitCount(flow.RootId()); ++i) {
        const int unit = flow.GetOpUnit(flow.RootId(), i);
        CString name;
        if (flow.GetGroupName(unit, name))
            names.push_back(name.Str());
        else
            names.push_back(L"layer:" + flow.GetStack(unit).GetName().Str());
    }
    return names;
}

// The group holding `layer`, or -1.
inline int GroupOf(img::CImg const& doc, int layer)
{
    img::CDisplProcessFlow flow(doc, false);
    const int plane = flow.FindLayer(layer);
    const int parent = plane == -1 ? -1 : flow.GetParentGroup(plane);
    return flow.IsGroup(parent) ? parent : -1;
}

// A fixture owning a document and a mosaic over it.
class MosaicFixture {
protected:
    img::CImg doc;
    Mosaic mosaic{img::CreateMosaikImage(&doc)};
    imgscope_test::TestScope core{doc};

    int Active() { return mosaic->GetActiveLayerID(); }
    img::CStack ActiveStack() { return doc.FindStack(Active()); }
};

}  // namespace mosaic_test
