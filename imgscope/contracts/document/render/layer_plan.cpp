#include "imgscope/contracts/document/render/layer_plan_internal.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/stack.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace img {
namespace detail {
namespace render {

utl::CIndexN FrameShown(tEntry const& entry, CStack const& stack)
{
    const std::size_t order = std::size_t(std::max(0, stack.DimCount(0)));
    utl::CIndexN frame;
    if (mem::CBin const* bin = entry.properties.AccessProperty(kActiveFrameProperty)) {
        if (bin->Get(frame) && frame.size() == order && (stack.GetPixFrame(frame) || stack.GetVecGraph(frame)))
            return frame;
    }
    if (entry.hasActiveFrame && (entry.activeFrame.size() == order || entry.activeFrame.empty()))
        return entry.activeFrame;
    return stack.FrameIndexBegin(0);
}

double OpacityOf(tEntry const& entry)
{
    double value = 1.0;
    if (mem::CBin const* bin = entry.properties.AccessProperty(kOpacityProperty))
        bin->GetPlainOrUnit(value);
    if (std::isnan(value))
        return 1.0;
    return std::clamp(value, 0.0, 1.0);
}

std::vector<int> ColumnsOf(tView const& view, double ox, double sx, int boundLeft, int boundRight, int& x0, int& x1)
{
    // layer x = (X − origin) / scale with X = (i + 0.5) × k + c.
    std::vector<int> all;
    x0 = INT_MAX;
    x1 = INT_MIN;
    for (int i = view.clip.left; i < view.clip.right; ++i) {
        const double lx = std::floor(((i + 0.5) * view.kx + view.cx - ox) / sx);
        const bool inside = lx >= boundLeft && lx < boundRight;
        if (inside) {
            x0 = std::min(x0, i);
            x1 = std::max(x1, i + 1);
        }
        all.push_back(inside ? int(lx) : INT_MIN);
    }
    if (x0 >= x1)
        return {};
    return std::vector<int>(all.begin() + (x0 - view.clip.left), all.begin() + (x1 - view.clip.left));
}

std::vector<int> RowsOf(tView const& view, double oy, double sy, int boundTop, int boundBottom)
{
    std::vector<int> rows;
    rows.reserve(std::size_t(view.clip.Height()));
    for (int j = view.clip.top; j < view.clip.bottom; ++j) {
        const double ly = std::floor(((j + 0.5) * view.ky + view.cy - oy) / sy);
        rows.push_back(ly >= boundTop && ly < boundBottom ? int(ly) : INT_MIN);
    }
    return rows;
}

tChannelLook LookOf(CStack const& stack, tEntry const& entry, int channel, utl::EType type, tTint tint)
{
    tChannelLook look;
    TypeRange(type, look.lo, look.hi);
    utl::TInterval<double> limits;
    if ((stack.GetDispLimits(limits, channel) || stack.GetDispLimits(limits, -1)) && std::isfinite(limits.lower) &&
        std::isfinite(limits.upper)) {
        look.lo = limits.lower;
        look.hi = limits.upper;
    }
    auto it = entry.channels.find(channel);
    if (entry.useLut != 0 && it != entry.channels.end() && it->second.hasLut && !it->second.lut.empty())
        look.lut = it->second.lut;
    else if (!stack.GetLUT(look.lut, channel))
        look.lut.clear();
    look.tint = tint;
    return look;
}

bool ChannelVisible(tEntry const& entry, int channel)
{
    auto it = entry.channels.find(channel);
    return it == entry.channels.end() || it->second.visible;
}

// Builds the sources of a raster layer; false when it shows nothing (no
// visible channel, no frame). Hidden channels of a shown layer are black.
bool PlanRaster(tEntry const& entry, CStack const& stack, tLayerPlan& plan, geo::CiRect& bounds)
{
    const utl::CIndexN frame = FrameShown(entry, stack);
    const std::vector<int> channels = ChannelsOf(stack);
    std::vector<int> visible;
    for (int c : channels)
        if (ChannelVisible(entry, c))
            visible.push_back(c);
    if (visible.empty())
        return false;

    const int channelDim = stack.GetChannelDim();
    bool first = true;
    const auto addSource = [&](boost::shared_ptr<CPixFrame> const& pix) -> tSource* {
        if (!pix)
            return nullptr;
        CPixelInfo const& info = pix->GetPixelInfo();
        if (!info.IsValid())
            return nullptr;
        const geo::CiRect b = pix->GetBoundary(0);
        bounds = first ? b : geo::Intersection(bounds, b);
        first = false;
        tSource s;
        s.frame = pix;
        s.type = info.GetElementType();
        s.pixelBytes = info.Size();
        s.elementBytes = info.GetComponentSize();
        if (info.HasAlpha()) {
            s.alphaComponent = info.GetComponentCount() - info.GetAlphaCount();
            double lo = 0.0;
            TypeRange(s.type, lo, s.alphaMax);
            if (!(s.alphaMax > 0.0))
                s.alphaMax = 1.0;
        }
        plan.sources.push_back(std::move(s));
        return &plan.sources.back();
    };

    if (channelDim >= 0 && std::size_t(channelDim) < frame.size()) {
        // One frame per channel along the channel dimension; each shows
        // its first component in the channel's colour.
        for (std::size_t k = 0; k < visible.size(); ++k) {
            utl::CIndexN index = frame;
            index[std::size_t(channelDim)] = visible[k];
            tSource* s = addSource(stack.GetPixFrame(index));
            if (!s)
                continue;
            const std::size_t ordinal =
                std::size_t(std::find(channels.begin(), channels.end(), visible[k]) - channels.begin());
            const tTint tint = channels.size() == 1 ? kGrey : kCycle[ordinal % 7];
            s->channels.push_back(MakeTable(s->type, 0, LookOf(stack, entry, visible[k], s->type, tint)));
        }
    } else {
        tSource* s = addSource(stack.GetPixFrame(frame));
        if (s) {
            CPixelInfo const& info = s->frame->GetPixelInfo();
            const int colours = info.GetComponentCount() - info.GetAlphaCount();
            for (int c : visible) {
                if (c < 0 || c >= colours)
                    continue;
                tTint tint = kGrey;
                if (colours > 1) {
                    if (info.GetColorSpace() == eColorSpaceBGR && colours == 3)
                        tint = kCycle[2 - c];  // blue, green, red
                    else
                        tint = kCycle[std::size_t(c) % 7];  // red, green, blue, …
                }
                s->channels.push_back(MakeTable(s->type, c, LookOf(stack, entry, c, s->type, tint)));
            }
        }
    }
    // A source whose shown channels are all alpha or out of range still
    // covers what lies below, in black.
    return !plan.sources.empty() && !bounds.IsEmpty();
}

namespace {

bool Shown(tEntry const& entry) { return entry.visible && !entry.hidden; }

}  // namespace

std::vector<tDrawn> DrawnLayers(tFlowState const& state, std::vector<int> const& layerIds)
{
    std::vector<tDrawn> drawn;
    for (int layerId : layerIds) {
        tEntry const* entry = state.FindLayerEntry(state.PlaneOf(layerId));
        if (!entry || !Shown(*entry))
            continue;
        double groupOpacity = 1.0;
        tEntry const* parent = state.Find(entry->parent);
        if (parent && parent->id != state.rootId) {
            if (!Shown(*parent))
                continue;
            if (parent->singular) {
                int top = -1;
                for (int child : parent->children) {
                    tEntry const* member = state.Find(child);
                    if (member && Shown(*member))
                        top = child;
                }
                if (top != entry->id)
                    continue;
            }
            groupOpacity = OpacityOf(*parent);
        }
        drawn.push_back({layerId, entry, groupOpacity});
    }
    return drawn;
}

void PlanMask(boost::shared_ptr<CMask> const& mask, tLayerPlan& plan)
{
    plan.mask = mask;
    plan.maskBounds = mask->GetBoundary();
    plan.maskTileRowsLive.clear();
    if (mask->GetInitialValue() != 0)
        return;
    const boost::shared_ptr<CPixFrame> pixels = mask->GetPixFrame();
    const boost::shared_ptr<CTileDistributor> tiles = pixels ? pixels->GetTileDistributor() : nullptr;
    if (!tiles)
        return;
    const geo::CiVec2 count = tiles->GetTileCount();
    const int height = tiles->GetTileSize().y;
    if (count.y <= 0 || height <= 0)
        return;
    // One search per tile row that holds a tile: rows between are skipped.
    std::vector<bool> live(std::size_t(count.y), false);
    geo::CiVec2 next;
    for (int row = 0; row < count.y && tiles->GetNextExisting(geo::CiVec2(-1, row), next); row = next.y + 1)
        live[std::size_t(next.y)] = true;
    plan.maskTileRowsLive.swap(live);
    plan.maskTileHeight = height;
}

}  // namespace render
}  // namespace detail
}  // namespace img
