// Questions about a sample mask: does a region hold enough sample, and
// where does a window hold much, or little, of it.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/library/export.h"

namespace img {

class CPicture;

// A sample mask is a picture whose non-zero pixels mark the specimen. The
// functions work in the mask's calibrated coordinates (Lcs2Pixel and
// Pixel2Lcs of the picture) and read its pixels, one byte each; a mask of
// wider pixels counts a pixel as sample when any of its bytes is non-zero.

// True when at least `fraction` of the mask pixels in `area` are sample.
// The area is converted to mask pixels, truncated to whole pixels,
// normalised and clipped to the mask; the fraction applies to what is left.
// At least one sample pixel is always needed, and never more than the
// clipped area (a NaN fraction needs one). True without a mask or for a
// mask whose document is invalid: without a mask every place counts as
// sample. False for an area wholly outside the mask or a mask without
// pixels.
IMGSCOPE_API bool IsSampleAtPos(CPicture const* mask, utl::TUnitValue<geo::CdRect> area, double fraction);

// Searches the mask for a window of `windowSize` (calibrated, at least one
// pixel each way) holding more than a quarter of sample (FindSamplePos) or
// less than a quarter (FindNoSamplePos); a window of exactly a quarter is
// neither. Windows are tried top to bottom and left to right in steps of
// half the window, and only where they fit wholly inside the searched area
// without touching its lower or right edge. With `centreFirst` the central
// 20 %, 40 %, 60 % and 80 % of the mask are searched before the whole, so
// a place near the centre wins. On success `position` takes the centre of
// the first window found (whole pixels, truncated toward zero), in the
// mask's calibrated coordinates. False, `position` unchanged, for a null
// mask, an invalid document, a mask without pixels, when no window
// qualifies, or when memory for the window edges runs out.
IMGSCOPE_API bool FindSamplePos(CPicture const* mask, utl::TUnitValue<geo::CdVec2>& position,
                                utl::TUnitValue<geo::CdVec2> const& windowSize, bool centreFirst);
IMGSCOPE_API bool FindNoSamplePos(CPicture const* mask, utl::TUnitValue<geo::CdVec2>& position,
                                  utl::TUnitValue<geo::CdVec2> const& windowSize, bool centreFirst);

}  // namespace img
