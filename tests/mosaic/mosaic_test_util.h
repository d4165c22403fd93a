// Mosaic documents for the tests: a mosaic over a document the test also
// inspects directly, layer specifications with everyday defaults, tiles of
// known pixels, readers of the layer tree, and sample masks whose pixels
// come from a function.
#pragma once

#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/picture.h"
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mosaic_test {

using imgscope_test::kGray16;
using imgscope_test::kGray8;
using imgscope_test::kMicron;
using imgscope_test::kRgb8;
using Mosaic = std::unique_ptr<img::CMosaikScope>;

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

using tPixel = std::function<int(int x, int y)>;

// A picture of `rect` in `doc` whose pixel (x, y) is value(x, y), stored in
// the low bytes of each pixel of `info`.
inline std::unique_ptr<img::CPicture> MaskPicture(img::CImg doc, geo::CiRect const& rect, tPixel const& value,
                                                  img::CPixelInfo const& info = kGray8)
{
    std::unique_ptr<img::CPicture> picture(img::CreatePicture(rect, info, mem::eMemoryDefault, mem::eAlign32,
                                                              utl::CPropSet(), utl::CPropSet(), utl::CPropSet(), doc));
    EXPECT_TRUE(picture);
    if (!picture)
        return picture;
    const auto frame = picture->GetPixFrame();
    const auto size = static_cast<std::size_t>(info.Size());
    std::vector<std::uint8_t> row(std::size_t(rect.Width()) * size);
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            const int v = value(x, y);
            std::memcpy(&row[std::size_t(x - rect.left) * size], &v, std::min(size, sizeof v));
        }
        EXPECT_TRUE(frame->WriteRowSegment(geo::CiVec2(rect.left, y), rect.Width(), row.data(), 0));
    }
    return picture;
}

// Calibrates a picture: `pixel` micrometres per pixel from `origin` µm.
inline void Calibrate(img::CPicture& picture, double pixel, geo::CdVec2 origin)
{
    EXPECT_TRUE(picture.SetPixelCoords(utl::TUnitValue<geo::CdVec2>(kMicron, geo::CdVec2(pixel, pixel)), origin));
}

inline utl::TUnitValue<geo::CdVec2> Pixels(double w, double h)
{
    return utl::TUnitValue<geo::CdVec2>(utl::c_pixel, geo::CdVec2(w, h));
}

inline utl::TUnitValue<geo::CdRect> MicronRect(double l, double t, double r, double b)
{
    return utl::TUnitValue<geo::CdRect>(kMicron, geo::CdRect(l, t, r, b));
}

inline utl::TUnitValue<geo::CdRect> PixelRect(double l, double t, double r, double b)
{
    return utl::TUnitValue<geo::CdRect>(utl::c_pixel, geo::CdRect(l, t, r, b));
}

// A fixture owning a document and a mosaic over it.
class MosaicFixture {
protected:
    img::CImg doc;
    Mosaic mosaic{img::CreateMosaikImage(&doc)};
    imgscope_test::TestScope core{doc};

    int Active() { return mosaic->GetActiveLayerID(); }
    img::CStack ActiveStack() { return doc.FindStack(Active()); }

    // The layers whose stack type (2074) is `role`, in document order.
    std::vector<int> LayersOf(int role) const
    {
        std::vector<int> ids;
        for (int id = doc.FirstStackId(); id != -1; id = doc.NextStackId(id)) {
            mem::CBin value;
            if (doc.FindStack(id).GetProperty(2074, value) && value.GetOr(-1) == role)
                ids.push_back(id);
        }
        return ids;
    }

    std::optional<utl::TUnitValue<geo::CdRect>> Calibration(int layer) const
    {
        utl::TUnitValue<geo::CdRect> rect;
        if (!doc.FindStack(layer).GetBoundaryRWC(rect))
            return std::nullopt;
        return rect;
    }
};

}  // namespace mosaic_test
