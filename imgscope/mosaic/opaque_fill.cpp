#include "imgscope/mosaic/opaque_fill_internal.h"

namespace img {

// The mask's own fill does what this once did by hand through tile
// handles: whole tiles stay without memory, tiles that already show 255
// are left alone, large areas are streamed. Writing through a tile
// handle's pointer happens outside the store's lock, where a render's view
// opened meanwhile would read the tile while it is written; the fill takes
// the lock and moves a tile a view shows to fresh memory first.
bool FillOpaque(CMask& mask, geo::CiRect rect)
{
    rect.Normalize();
    const geo::CiRect area = geo::Intersection(rect, mask.GetBoundary());
    if (area.IsEmpty())
        return false;
    return mask.Rectangle(area, 255, CMask::eCombineSet);
}

}  // namespace img
