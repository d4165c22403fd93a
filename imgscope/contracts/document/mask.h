// Transparency masks: one byte per pixel over a rectangle, on the tile store.
#pragma once

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>

namespace img {

// An 8-bit mask (0 transparent, 255 opaque) over a rectangle. It costs tile
// memory only where its tiles hold differing values: a rectangle that
// covers whole tiles leaves them uniform, so a mask over a 100000 × 100000
// layer filled with one value costs a few kilobytes.
class IMGSCOPE_API CMask {
public:
    // How Rectangle combines the new value v with the mask's value m.
    enum ECombine : int {
        eCombineSet = 0,       // v
        eCombineMax = 1,       // max(m, v)
        eCombineMin = 2,       // min(m, v)
        eCombineAdd = 3,       // min(m + v, 255)
        eCombineSubtract = 4,  // max(m − v, 0)
        eCombineInvert = 5,    // 255 − m; v is not used
    };

    // A mask over `extent` with every pixel `value`. Throws
    // std::invalid_argument for an empty (or inverted) or oversized extent.
    CMask(geo::CiRect const& extent, unsigned char value);
    // The same without exceptions: empty on failure.
    static boost::shared_ptr<CMask> Create(geo::CiRect const& extent, unsigned char value);
    // Deep copies.
    CMask(CMask const& other);
    CMask& operator=(CMask const& other);
    ~CMask();

    geo::CiRect GetBoundary() const;
    // The value the mask was created with.
    unsigned char GetInitialValue() const;

    // Combines `value` into `rect` clipped to the boundary. False, mask
    // unchanged, for an unknown mode, when nothing of `rect` lies inside (an
    // inverted rectangle is empty, never flipped) or when memory runs out.
    bool Rectangle(geo::CiRect rect, unsigned char value, int combineMode);
    // The value at `point`, or -1 outside.
    int GetValue(geo::CiVec2 point) const;
    // `count` values from `point` along x; false unless wholly inside.
    bool ReadRowSegment(geo::CiVec2 point, int count, unsigned char* buffer) const;
    // As CPixFrame::GetRowSpan.
    int GetRowSpan(geo::CiVec2 point, std::uint8_t const*& data) const;

    // The mask's pixel frame (8-bit gray), shared with the mask: reads and
    // writes through it are reads and writes of the mask.
    boost::shared_ptr<CPixFrame> GetPixFrame() const;

private:
    boost::shared_ptr<CPixFrame> m_pFrame;
    unsigned char m_initial = 0;
};

}  // namespace img
