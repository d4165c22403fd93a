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
