// Sample masks for the tests: pictures whose pixels come from a function,
// optionally calibrated, and readers of a picture's pixels.
#pragma once

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/typed/picture.h"
#include "tests/scope/core_documents.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace mask_test {

using imgscope_test::kMicron;
using tPixel = std::function<int(int x, int y)>;

const img::CPixelInfo kMask8(utl::eUInt8, 1, img::eColorSpaceGray);

// A picture of `rect` in `doc` whose pixel (x, y) is value(x, y), stored in
// the low bytes of each pixel of `info`.
inline std::unique_ptr<img::CPicture> MaskPicture(img::CImg doc, geo::CiRect const& rect, tPixel const& value,
                                                  img::CPixelInfo const& info = kMask8)
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

inline utl::TUnitValue<geo::CdRect> PixelRect(double l, double t, double r, double b)
{
    return utl::TUnitValue<geo::CdRect>(utl::c_pixel, geo::CdRect(l, t, r, b));
}

}  // namespace mask_test
