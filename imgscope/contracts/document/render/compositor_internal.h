// The compositor behind CDisplProcessFlow::PlayToPixFrame and the canvas
// geometry it shares with OptimizeCanvasFromCalibration. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow_internal.h"
#include "imgscope/contracts/document/pix_frame.h"

#include <boost/shared_ptr.hpp>

#include <vector>

namespace img {
namespace detail {

// Where a layer's pixels lie on `canvas`: calibrated canvas coordinate =
// layer pixel × scale + origin, per axis. Taken from the entry's placement
// when it has one, else from the stack's calibration converted into the
// canvas units, else one layer pixel per canvas pixel. False for a layer
// the document does not hold.
bool LayerToCanvas(tFlow const& flow, int layerId, tCanvas const& canvas, geo::CdVec2& origin, geo::CdVec2& scale);

// Fits `canvas` around the calibrated extents of `layerIds`: keeps its
// scale and units when calibrated (else takes the finest pixel size of the
// calibrated layers, in the unit of the first), moves its origin to the
// extents' top left and sizes its pixel rectangle and canvas rectangle to
// them. False, `canvas` untouched, when no layer contributes or the result
// would not fit in int pixels.
bool FitCanvas(tFlow const& flow, std::vector<int> const& layerIds, tCanvas& canvas);

// Renders `layerIds` (first = bottom) into `target` (8-bit, three
// components): target pixel → canvas pixel (`pixelRect` shows `canvasRect`)
// → calibrated canvas coordinate → layer pixel, nearest neighbour. False
// for a null or non-RGB8 target, an empty `pixelRect` or one outside the
// target, or a `canvasRect` that is not finite with positive extent.
bool Compose(tFlow const& flow, boost::shared_ptr<CPixFrame> const& target, geo::CiRect const& pixelRect,
             geo::CdRect const& canvasRect, std::vector<int> const& layerIds, tRenderHints const& hints);

}  // namespace detail
}  // namespace img
