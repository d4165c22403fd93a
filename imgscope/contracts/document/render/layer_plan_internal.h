// Layer plans of the compositor: everything that depends on a layer,
// settled before the first row. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow_internal.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/render/channel_tables_internal.h"
#include "imgscope/contracts/document/render/row_access_internal.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

namespace img {
namespace detail {
namespace render {

// How a source turns into colours: one channel looked up straight into
// bytes, channels that each light one output byte of their own, or
// channels summed in lanes and clamped.
enum ESourceMode : int { eModePacked, eModeBytes, eModeSum };

// One pixel frame a layer reads, with the channels taken from it.
struct tSource {
    boost::shared_ptr<CPixFrame> frame;
    utl::EType type = utl::eUInt8;
    int pixelBytes = 1;
    int elementBytes = 1;
    std::vector<tChannelTable> channels;
    ESourceMode mode = eModeSum;
    bool allLanesLit = false;  // eModeBytes: every output byte has a channel
    int alphaComponent = -1;
    double alphaMax = 255.0;
    CRowAccess access;
};

struct tSegment {
    double x0, y0, x1, y1;  // target coordinates, pixel centres at +0.5
};
struct tEllipse {
    double cx, cy, rx, ry;
};
struct tShape {
    std::vector<tSegment> segments;
    bool isEllipse = false;
    tEllipse ellipse{};
    unsigned b = 255, g = 255, r = 255;
};

struct tLayerPlan {
    bool isVector = false;
    std::vector<tSource> sources;
    boost::shared_ptr<CMask> mask;
    geo::CiRect maskBounds;
    CRowAccess maskAccess;
    // Rows of mask tiles, from the mask's top, that may hold anything but
    // 0; empty when every row may (the mask's fill value is not 0).
    std::vector<bool> maskTileRowsLive;
    int maskTileHeight = 1;
    int x0 = 0;  // covered target columns [x0, x1)
    int x1 = 0;
    std::vector<int> rowIndex;  // source y per target row of the clip; INT_MIN outside
    unsigned weight = 256;      // opacity × 256
    ELayerFunction function = eFunctionNormal;
    boost::shared_ptr<CDisplayFilter> filter;
    // Vector layers: shapes in target coordinates, and the layer pixel of a
    // target pixel for the mask (layer = a × (target + 0.5) + b).
    std::vector<tShape> shapes;
    double ax = 1.0, bx = 0.0, ay = 1.0, by = 0.0;

    std::uint16_t weightOf[256] = {};  // WeightOf of every coverage, once `weight` is set

    // Blend weight 0..256 of a coverage of 0..255.
    unsigned WeightOf(unsigned coverage) const { return (coverage * weight + 127u) / 255u; }
    void SetWeight(unsigned w)
    {
        weight = w;
        for (unsigned c = 0; c < 256; ++c)
            weightOf[c] = std::uint16_t(WeightOf(c));
    }
    // False when mask row `y` hides the layer throughout.
    bool MaskRowMayShow(int y) const
    {
        if (y < maskBounds.top || y >= maskBounds.bottom)
            return false;
        return maskTileRowsLive.empty() || maskTileRowsLive[std::size_t((y - maskBounds.top) / maskTileHeight)];
    }
};

struct tView {
    // Target pixel centre u → calibrated canvas coordinate: X = u × k + c.
    double kx, cx, ky, cy;
    geo::CiRect clip;
};

// The layers of `layerIds` that are drawn, with the opacity of their group:
// entries that are visible and not hidden, in visible groups, and in a
// singular group only its topmost shown member.
struct tDrawn {
    int layerId;
    tEntry const* entry;
    double groupOpacity;
};

// The frame an entry shows: property 10014 while it names a frame, else the
// entry's active frame, else the stack's first.
utl::CIndexN FrameShown(tEntry const& entry, CStack const& stack);

double OpacityOf(tEntry const& entry);

std::vector<int> ColumnsOf(tView const& view, double ox, double sx, int boundLeft, int boundRight, int& x0, int& x1);

std::vector<int> RowsOf(tView const& view, double oy, double sy, int boundTop, int boundBottom);

bool ChannelVisible(tEntry const& entry, int channel);

// Builds the sources of a raster layer; false when it shows nothing (no
// visible channel, no frame). Hidden channels of a shown layer are black.
bool PlanRaster(tEntry const& entry, CStack const& stack, tLayerPlan& plan, geo::CiRect& bounds);

std::vector<tDrawn> DrawnLayers(tFlowState const& state, std::vector<int> const& layerIds);

// Takes `mask` as the plan's mask and notes which of its tile rows hold any
// tile: where the mask's fill value is 0, a row without tiles hides the
// layer, and the compositor skips it before fetching anything.
void PlanMask(boost::shared_ptr<CMask> const& mask, tLayerPlan& plan);

}  // namespace render
}  // namespace detail
}  // namespace img
