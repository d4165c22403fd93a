// Frames for the stack tests: small frames of one value in any pixel type,
// and reading a pixel back as a double.
#pragma once

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "tests/scope/core_documents.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace imgscope_test {

inline const img::CPixelInfo kGray8(utl::eUInt8, 1, img::eColorSpaceGray);
inline const img::CPixelInfo kGray16(utl::eUInt16, 1, img::eColorSpaceGray);
inline const img::CPixelInfo kFloat(utl::eFloat, 1, img::eColorSpaceGray);
inline const img::CPixelInfo kRgb8(utl::eUInt8, 3, img::eColorSpaceRGB);

// The first element of a pixel stored as `info`'s element type.
inline std::vector<std::uint8_t> PixelOf(img::CPixelInfo const& info, double value)
{
    std::vector<std::uint8_t> pixel(static_cast<std::size_t>(info.Size()), 0);
    switch (info.GetElementType()) {
    case utl::eUInt8: pixel[0] = static_cast<std::uint8_t>(value); break;
    case utl::eUInt16: {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(pixel.data(), &v, sizeof v);
        break;
    }
    case utl::eFloat: {
        const auto v = static_cast<float>(value);
        std::memcpy(pixel.data(), &v, sizeof v);
        break;
    }
    default: break;
    }
    return pixel;
}

// A frame of `rect` whose every pixel holds `value` in its first element.
inline boost::shared_ptr<img::CPixFrame> UniformFrame(geo::CiRect const& rect, img::CPixelInfo const& info,
                                                      double value)
{
    auto frame = img::CPixFrame::Create(rect, info, mem::eMemoryTiled, mem::eAlignNone, utl::CPropSet());
    if (frame)
        frame->FillRect(rect, PixelOf(info, value).data());
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
    switch (frame->GetPixelInfo().GetElementType()) {
    case utl::eUInt16: {
        std::uint16_t v = 0;
        std::memcpy(&v, pixel.data(), sizeof v);
        return v;
    }
    case utl::eFloat: {
        float v = 0;
        std::memcpy(&v, pixel.data(), sizeof v);
        return v;
    }
    default: return pixel[0];
    }
}

}  // namespace imgscope_test
