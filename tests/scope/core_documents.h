// Small real documents for the scope, typed and mosaic tests: raster and
// vector layers, with or without an entry in the document's layer tree, and
// frames of one value in any pixel type.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/data_frame.h"

#include <boost/make_shared.hpp>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace imgscope_test {

constexpr utl::CUnit kMicron{utl::eQuantityLength, 1, -6};
constexpr utl::CUnit kNano{utl::eQuantityLength, 1, -9};
constexpr utl::CUnit kMilli{utl::eQuantityLength, 1, -3};
constexpr utl::CUnit kSecond{utl::eQuantityTime, 1, 0};

inline const img::CPixelInfo kGray8(utl::eUInt8, 1, img::eColorSpaceGray);
inline const img::CPixelInfo kGray16(utl::eUInt16, 1, img::eColorSpaceGray);
inline const img::CPixelInfo kFloat(utl::eFloat, 1, img::eColorSpaceGray);
inline const img::CPixelInfo kRgb8(utl::eUInt8, 3, img::eColorSpaceRGB);

// A data frame at the origin with the given extent (x, y, then the plane
// dimensions): gray of `type`, or RGB with three components.
inline boost::shared_ptr<mem::CDataFrame> MakeDataFrame(std::initializer_list<int> extent,
                                                        utl::EType type = utl::eUInt8, int components = 1)
{
    geo::CiVecN const size{std::vector<int>(extent)};
    return boost::make_shared<mem::CDataFrame>(
        geo::CiVolumeN::FromPositionSize(geo::CiVecN(size.size(), 0), size),
        img::CPixelInfo(type, components, components == 3 ? img::eColorSpaceRGB : img::eColorSpaceGray));
}

inline boost::shared_ptr<img::CVecGraph> MakeGraphic()
{
    auto graphic = boost::make_shared<img::CVecGraph>();
    graphic->Add(img::CVecGraph::tShape{img::CVecGraph::eRectangle, geo::CdRect(1, 1, 5, 4)});
    return graphic;
}

// Gives `layer` an entry at the end of the root of the document's tree;
// returns its plane ID.
inline int AddEntry(img::CImg const& doc, int layer)
{
    return img::CDisplProcessFlow(doc, false).InsertLayer(-1, -3, layer, utl::CIndexN(), -1);
}

// A raster layer over a new data frame of `extent`; every dimension past
// x and y of extent above 1 becomes a stack dimension. Returns its ID.
inline int AddRasterLayer(img::CImg& doc, std::initializer_list<int> extent, bool withEntry = true,
                          utl::EType type = utl::eUInt8)
{
    int const id = doc.Add(img::CStack(MakeDataFrame(extent, type)));
    if (id != -1 && withEntry)
        AddEntry(doc, id);
    return id;
}

inline int AddVectorLayer(img::CImg& doc, bool withEntry = true)
{
    int const id = doc.Add(img::CStack(MakeGraphic()));
    if (id != -1 && withEntry)
        AddEntry(doc, id);
    return id;
}

// A layer ID that the document certainly does not have.
inline int UnknownLayer(img::CImg const& doc)
{
    int last = 0;
    for (int id = doc.FirstStackId(); id != -1; id = doc.NextStackId(id))
        last = id;
    return last + 1000;
}

// Calls f(T()) with T the element type of the 8-bit, 16-bit and float
// descriptions above.
template <class F>
auto WithElement(img::CPixelInfo const& info, F f)
{
    switch (info.GetElementType()) {
    case utl::eUInt16: return f(std::uint16_t());
    case utl::eFloat: return f(float());
    default: return f(std::uint8_t());
    }
}

// A frame of `rect` whose every pixel holds `value` in its first element.
inline boost::shared_ptr<img::CPixFrame> UniformFrame(geo::CiRect const& rect, img::CPixelInfo const& info,
                                                      double value)
{
    std::vector<std::uint8_t> pixel(static_cast<std::size_t>(info.Size()), 0);
    WithElement(info, [&](auto t) {
        const auto v = static_cast<decltype(t)>(value);
        std::memcpy(pixel.data(), &v, sizeof v);
        return 0;
    });
    auto frame = img::CPixFrame::Create(rect, info, mem::eMemoryTiled, mem::eAlignNone, utl::CPropSet());
    if (frame)
        frame->FillRect(rect, pixel.data());
    return frame;
}

// The first element of the pixel at `point`, or -1 when it cannot be read.
inline double PixelAt(boost::shared_ptr<img::CPixFrame> const& frame, geo::CiVec2 point)
{
    if (!frame)
        return -1;
    std::vector<std::uint8_t> pixel(static_cast<std::size_t>(frame->GetPixelInfo().Size()));
    if (!frame->ReadRowSegment(point, 1, pixel.data(), 0))
        return -1;
    return WithElement(frame->GetPixelInfo(), [&](auto t) {
        std::memcpy(&t, pixel.data(), sizeof t);
        return static_cast<double>(t);
    });
}

}  // namespace imgscope_test
