// CBaseScope: how the channels of a layer are shown — limits, channel names,
// data LUTs (kept with the stack) and display LUTs, visibility, function,
// opacity, filter and transparency mask (kept in the layer tree), and the
// selections of channels and frames.
#include "imgscope/scope/base_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/scope/scope_data_internal.h"

#include <cstdint>
#include <exception>

namespace img {

namespace {

using FrameSet = std::set<geo::CiVecN, geo::tiVecNLess>;

// The plane property that carries a layer's opacity.
constexpr int kOpacityProperty = 10009;

// Display limits are kept for the stack as a whole.
constexpr int kAllChannels = -1;

// A range selection is materialised index by index; past this many indices
// it is refused rather than let a stray bound exhaust memory (a few hundred
// bytes per selected index).
constexpr std::int64_t kMaxRangeIndices = std::int64_t(1) << 22;

// Number of indices of the range from `from` to `to` (same length), capped
// just past kMaxRangeIndices. A component varies when from < to and then
// runs up to, not including, to; when none varies the range is empty, except
// that the range of the empty index is that index itself.
std::int64_t RangeCount(geo::CiVecN const& from, geo::CiVecN const& to)
{
    if (from.empty())
        return 1;
    std::int64_t count = 1;
    bool varies = false;
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (from[i] >= to[i])
            continue;
        varies = true;
        count *= std::int64_t(to[i]) - std::int64_t(from[i]);
        if (count > kMaxRangeIndices)
            return kMaxRangeIndices + 1;
    }
    return varies ? count : 0;
}

// Inserts every index of the range, the last component running fastest.
void InsertRange(FrameSet& set, geo::CiVecN const& from, geo::CiVecN const& to)
{
    const std::int64_t count = RangeCount(from, to);
    if (count == 0)
        return;
    geo::CiVecN index = from;
    const std::size_t n = from.size();
    for (std::int64_t k = 0; k < count; ++k) {
        set.insert(index);
        // Odometer step over the varying components only.
        for (std::size_t i = n; i-- > 0;) {
            if (from[i] >= to[i])
                continue;
            if (index[i] + 1 < to[i]) {
                ++index[i];
                break;
            }
            index[i] = from[i];
        }
    }
}

// Whether `index` lies in the range from `from` to `to`.
bool InRange(geo::CiVecN const& index, geo::CiVecN const& from, geo::CiVecN const& to)
{
    if (index.size() != from.size())
        return false;
    bool varies = false;
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (from[i] < to[i]) {
            varies = true;
            if (index[i] < from[i] || index[i] >= to[i])
                return false;
        } else if (index[i] != from[i]) {
            return false;
        }
    }
    return varies || from.empty();
}

// Removes every index of the range. Walking the selection instead of the
// range keeps the cost bound by what is selected, whatever the bounds.
void EraseRange(FrameSet& set, geo::CiVecN const& from, geo::CiVecN const& to)
{
    for (auto it = set.begin(); it != set.end();) {
        if (InRange(*it, from, to))
            it = set.erase(it);
        else
            ++it;
    }
}

}  // namespace

// ---------------------------------------------------------------- limits and channels

bool CBaseScope::SetLimits(int layer, utl::TInterval<double> const& limits)
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.SetDispLimits(limits, kAllChannels);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::GetLimits(int layer, utl::TInterval<double>& limits) const
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        utl::TInterval<double> result = limits;
        if (!stack.GetDispLimits(result, kAllChannels))
            return false;
        limits = result;
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

int CBaseScope::GetFirstChannel(int layer) const
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return -1;
        return stack.FirstChannel();
    } catch (std::exception const&) {
        return -1;
    }
}

int CBaseScope::GetNextChannel(int layer, int channel) const
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return -1;
        return stack.NextChannel(channel);
    } catch (std::exception const&) {
        return -1;
    }
}

// Channel colours are not stored: a channel's colour is its data LUT. The
// lookup still runs so that these behave like the rest on a bad layer.
bool CBaseScope::SetChannelColor(int layer, int /*channel*/, utl::CBGR8 /*color*/)
{
    try {
        static_cast<void>(ResolveStack(layer));
    } catch (std::exception const&) {
    }
    return false;
}

bool CBaseScope::GetChannelColor(int layer, int /*channel*/, utl::CBGR8& /*color*/) const
{
    try {
        static_cast<void>(ResolveStack(layer));
    } catch (std::exception const&) {
    }
    return false;
}

bool CBaseScope::DelChannelColor(int layer, int channel)
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        return stack.RemoveLUT(channel);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SetChannelName(int layer, int channel, CString const& name)
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        return stack.SetChannelName(name, channel);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::GetChannelName(int layer, int channel, CString& name) const
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        CString result;
        if (!stack.GetChannelName(result, channel))
            return false;
        name = result;
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

// ---------------------------------------------------------------- data LUTs (stack)

bool CBaseScope::GetDataLUT(int layer, std::vector<utl::CBGR8>& lut, int channel) const
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        std::vector<utl::CBGR8> result;
        if (!stack.GetLUT(result, channel))
            return false;
        lut.swap(result);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SetDataLUT(int layer, std::vector<utl::CBGR8> const& lut, int channel)
{
    try {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        return stack.SetLUT(lut, channel);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::HasDataLUT(int layer, int channel) const
{
    std::vector<utl::CBGR8> scratch;
    return GetDataLUT(layer, scratch, channel);
}

bool CBaseScope::DelDataLUT(int layer, int channel)
{
    CStack stack;
    try {
        stack = ResolveStack(layer);
    } catch (std::exception const&) {
        return false;
    }
    if (!stack.IsValid())
        return false;
    // From here the answer is true: the removals' own results are not
    // consulted, and a failure midway keeps what was already removed.
    try {
        if (channel != kAllChannels) {
            stack.RemoveLUT(channel);
            return true;
        }
        // Every component, whether it had a LUT or not; a layer whose pixel
        // description cannot be read has no components to clear.
        CPixelInfo info;
        GetPixelInfo(layer, info);
        for (int c = 0; c < info.GetComponentCount(); ++c)
            stack.RemoveLUT(c);
    } catch (std::exception const&) {
    }
    return true;
}

// ---------------------------------------------------------------- display state (tree)

bool CBaseScope::GetDisplayLUT(int layer, std::vector<utl::CBGR8>& lut, int channel) const
{
    try {
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        std::vector<utl::CBGR8> result;
        if (!flow.GetLUT(plane, channel, result))
            return false;
        lut.swap(result);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SetDisplayLUT(int layer, std::vector<utl::CBGR8> const& lut, int channel)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        return flow.SetLUT(plane, channel, lut);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::HasDisplayLUT(int layer, int channel) const
{
    std::vector<utl::CBGR8> scratch;
    return GetDisplayLUT(layer, scratch, channel);
}

bool CBaseScope::DelDisplayLUT(int layer, int channel)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        return flow.DelLUT(plane, channel);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::UseLUT(int layer, int value)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        return flow.UseLUT(plane, value);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SetChannelVisible(int layer, int channel, bool visible)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        flow.SetVisibility(plane, channel, visible);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::IsChannelVisible(int layer, int channel, bool& visible) const
{
    try {
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        visible = flow.IsVisible(plane, channel);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SetFunction(int layer, int channel, ELayerFunction function)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        return flow.SetFunction(plane, channel, function);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::GetFunction(int layer, int channel, ELayerFunction& function) const
{
    try {
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        ELayerFunction result = function;
        if (!flow.GetFunction(plane, channel, result))
            return false;
        function = result;
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SetOpacity(int layer, double const& opacity)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        return flow.SetProperty(plane, kOpacityProperty, mem::CBin(opacity));
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::GetOpacity(int layer, double& opacity) const
{
    try {
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        double result = opacity;
        if (!flow.GetGamma(plane, 0, result))
            return false;
        opacity = result;
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::HasDisplayFilter(int layer) const
{
    try {
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        boost::shared_ptr<CDisplayFilter> filter;
        flow.GetDisplayFilter(plane, filter);
        return filter != nullptr;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SetDisplayFilter(int& layer, boost::shared_ptr<CDisplayFilter> filter)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        return flow.SetDisplayFilter(plane, filter);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::ResetDisplayFilter(int layer)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        return flow.ResetDisplayFilter(plane);
    } catch (std::exception const&) {
        return false;
    }
}

boost::shared_ptr<CMask> CBaseScope::CreateTranspMask(int layer, unsigned char value)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return {};
        return flow.CreateTransparencyMask(plane, value);
    } catch (std::exception const&) {
        return {};
    }
}

boost::shared_ptr<CMask> CBaseScope::GetTranspMask(int layer)
{
    return static_cast<CBaseScope const&>(*this).GetTranspMask(layer);
}

boost::shared_ptr<CMask> CBaseScope::GetTranspMask(int layer) const
{
    try {
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return {};
        return flow.GetTransparencyMask(plane);
    } catch (std::exception const&) {
        return {};
    }
}

bool CBaseScope::DelTranspMask(int layer)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return false;
        flow.DeleteTransparencyMask(plane);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

std::set<int> CBaseScope::GetChannelIDs(int layer)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1)
            return {};
        return flow.GetChannelList(plane, true);
    } catch (std::exception const&) {
        return {};
    }
}

// ---------------------------------------------------------------- channel selection (by plane)

bool CBaseScope::GetSelectedChannels(int plane, std::set<int>& channels) const
{
    try {
        std::set<int> result = renderer2D().GetSelectedChannels(plane);
        if (result.empty())
            return false;
        channels.swap(result);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SelectChannel(int plane, int channel)
{
    // An empty selection means "not selecting by channel"; adding one
    // channel must not silently turn that into "only this channel".
    std::set<int> selection;
    if (!GetSelectedChannels(plane, selection))
        return false;
    selection.insert(channel);
    try {
        return renderer2D().SetSelectedChannels(plane, selection);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::UnselectChannel(int plane, int channel)
{
    std::set<int> selection;
    if (!GetSelectedChannels(plane, selection))
        return false;
    selection.erase(channel);
    // The last selected channel stays: an emptied selection would read as
    // "no channel selection" and so select them all.
    if (selection.empty())
        return false;
    try {
        return renderer2D().SetSelectedChannels(plane, selection);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::IsChannelSelected(int plane, int channel, bool& selected) const
{
    std::set<int> selection;
    if (!GetSelectedChannels(plane, selection))
        return false;
    selected = selection.count(channel) != 0;
    return true;
}

// ---------------------------------------------------------------- frame selection

bool CBaseScope::GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const
{
    try {
        FrameSet result;
        if (!renderer2D().GetFrameSelection(plane, result))
            return false;
        frames.swap(result);
        return true;
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::ResetFrameSelection(int plane)
{
    try {
        renderer2D().SetFrameSelection(plane, FrameSet());
    } catch (std::exception const&) {
    }
    return true;
}

bool CBaseScope::SelectFrame(int layer, geo::CiVecN const& index)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1 || !TestOrder(layer, index))
            return false;
        FrameSet selection;
        flow.GetFrameSelection(plane, selection);
        selection.insert(index);
        return flow.SetFrameSelection(plane, selection);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::UnselectFrame(int layer, geo::CiVecN const& index)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1 || !TestOrder(layer, index))
            return false;
        FrameSet selection;
        flow.GetFrameSelection(plane, selection);
        selection.erase(index);
        return flow.SetFrameSelection(plane, selection);
    } catch (std::exception const&) {
        return false;
    }
}

bool CBaseScope::SelectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1 || from.size() != to.size() || !TestOrder(layer, from))
            return false;
        if (RangeCount(from, to) > kMaxRangeIndices)
            return false;
        FrameSet selection;
        flow.GetFrameSelection(plane, selection);
        InsertRange(selection, from, to);
        // Written back even when the range is empty, as a single index is.
        return flow.SetFrameSelection(plane, selection);
    } catch (std::exception const&) {
        return false;  // bad_alloc midway: the tree's selection is untouched
    }
}

bool CBaseScope::UnselectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to)
{
    try {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1 || from.size() != to.size() || !TestOrder(layer, from))
            return false;
        FrameSet selection;
        flow.GetFrameSelection(plane, selection);
        EraseRange(selection, from, to);
        return flow.SetFrameSelection(plane, selection);
    } catch (std::exception const&) {
        return false;
    }
}

}  // namespace img
