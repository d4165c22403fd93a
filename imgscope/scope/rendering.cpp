#include "imgscope/scope/base_scope.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/scope/layer_flags_internal.h"

#include <algorithm>

namespace img {

namespace {

// The layers a render composes: every layer with an entry that is not
// hidden, in tree order. (A mask of only the visible bit would admit no
// layer at all, since every entry carries its raster or vector bit;
// invisible entries are skipped by the compositor itself.)
constexpr int kRenderMask = ~(kFlagNoEntry | kFlagHidden);

}  // namespace

bool CBaseScope::RenderComplete(boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect,
                                geo::CdRect const& rect, bool /*unused*/, EZoomMode /*zoom*/) const
{
    std::vector<int> layers;
    if (!GetLayers(layers, kRenderMask))
        return false;
    const tRenderHints hints;
    return renderer2D().PlayToPixFrame(frame, pixelRect, rect, 0, layers, hints);
}

bool CBaseScope::RenderLowerStack(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect,
                                  geo::CdRect const& rect, EZoomMode /*zoom*/) const
{
    std::vector<int> layers;
    if (!GetLayers(layers, kRenderMask))
        return false;
    const auto it = std::find(layers.begin(), layers.end(), layer);
    if (it == layers.end())
        return false;
    layers.erase(it, layers.end());
    const tRenderHints hints;
    return renderer2D().PlayToPixFrame(frame, pixelRect, rect, 0, layers, hints);
}

bool CBaseScope::RenderHigherStack(int, boost::shared_ptr<CPixFrame>, boost::shared_ptr<CPixFrame>,
                                   geo::CiRect const&, geo::CdRect const&, bool, EZoomMode) const
{
    return false;
}

bool CBaseScope::RenderSingleLayer(int, boost::shared_ptr<CPixFrame>, bool, EZoomMode) const
{
    return false;
}

}  // namespace img
