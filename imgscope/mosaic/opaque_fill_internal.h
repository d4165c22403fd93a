// Marking a pasted area opaque in a transparency mask. Not installed.
#pragma once

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/foundation/geometry.h"

namespace img {

// Sets `rect` (normalised, clipped to the mask) to 255, as
// CMask::Rectangle(rect, 255, 0) does: tiles the area covers wholly stay
// without memory, tiles that already show 255 throughout are left alone,
// and large areas are written with streaming stores. False when nothing of
// `rect` lies inside or memory runs out.
bool FillOpaque(CMask& mask, geo::CiRect rect);

}  // namespace img
