// CBaseScope: how the channels of a layer are shown — limits, channel names,
// data LUTs (kept with the stack) and display LUTs, visibility, function,
// opacity, filter and transparency mask (kept in the layer tree), and the
// selections of channels and frames.
#include "imgscope/scope/base_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_data_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

#include <cstdint>

namespace img {

namespace {

using FrameSet = std::set<geo::CiVecN, geo::tiVecNLess>;

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

// Reads the entry's frame selection, lets `edit` change it and writes it
// back; the result is the write's.
template <class F>
bool EditFrameSelection(CDisplProcessFlow& flow, int plane, F&& edit)
{
    FrameSet selection;
    flow.GetFrameSelection(plane, selection);
    edit(selection);
    return flow.SetFrameSelection(plane, selection);
}

}  // namespace

// ---------------------------------------------------------------- limits and channels

bool CBaseScope::SetLimits(int layer, utl::TInterval<double> const& limits)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.SetDispLimits(limits, kAllChannels);
        return true;
    });
}

bool CBaseScope::GetLimits(int layer, utl::TInterval<double>& limits) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        utl::TInterval<double> result = limits;
        if (!stack.GetDispLimits(result, kAllChannels))
            return false;
        limits = result;
        return true;
    });
}

int CBaseScope::GetFirstChannel(int layer) const
{
    return Guarded(-1, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return -1;
        return stack.FirstChannel();
    });
}

int CBaseScope::GetNextChannel(int layer, int channel) const
{
    return Guarded(-1, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return -1;
        return stack.NextChannel(channel);
    });
}

// Channel colours are not stored: a channel's colour is its data LUT. The
// lookup still runs so that these behave like the rest on a bad layer (it
// turns a model exception into an invalid stack itself).
bool CBaseScope::SetChannelColor(int layer, int /*channel*/, utl::CBGR8 /*color*/)
{
    static_cast<void>(ResolveStack(layer));
    return false;
}

bool CBaseScope::GetChannelColor(int layer, int /*channel*/, utl::CBGR8& /*color*/) const
{
    static_cast<void>(ResolveStack(layer));
    return false;
}

bool CBaseScope::DelChannelColor(int layer, int channel)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && stack.RemoveLUT(channel);
    });
}

bool CBaseScope::SetChannelName(int layer, int channel, CString const& name)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        return stack.SetChannelName(name, channel);
    });
}

bool CBaseScope::GetChannelName(int layer, int channel, CString& name) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        CString result;
        if (!stack.GetChannelName(result, channel))
            return false;
        name = result;
        return true;
    });
}

// ---------------------------------------------------------------- data LUTs (stack)

bool CBaseScope::GetDataLUT(int layer, std::vector<utl::CBGR8>& lut, int channel) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        std::vector<utl::CBGR8> result;
        if (!stack.GetLUT(result, channel))
            return false;
        lut.swap(result);
        return true;
    });
}

bool CBaseScope::SetDataLUT(int layer, std::vector<utl::CBGR8> const& lut, int channel)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        return stack.SetLUT(lut, channel);
    });
}

bool CBaseScope::HasDataLUT(int layer, int channel) const
{
    std::vector<utl::CBGR8> scratch;
    return GetDataLUT(layer, scratch, channel);
}

bool CBaseScope::DelDataLUT(int layer, int channel)
{
    CStack stack = ResolveStack(layer);
    if (!stack.IsValid())
        return false;
    // From here the answer is true: the removals' own results are not
    // consulted, and a failure midway keeps what was already removed.
    return Guarded(true, [&] {
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
        return true;
    });
}

// ---------------------------------------------------------------- display state (tree)

bool CBaseScope::GetDisplayLUT(int layer, std::vector<utl::CBGR8>& lut, int channel) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        std::vector<utl::CBGR8> result;
        if (plane == -1 || !renderer2D().GetLUT(plane, channel, result))
            return false;
        lut.swap(result);
        return true;
    });
}

bool CBaseScope::SetDisplayLUT(int layer, std::vector<utl::CBGR8> const& lut, int channel)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().SetLUT(plane, channel, lut);
    });
}

bool CBaseScope::HasDisplayLUT(int layer, int channel) const
{
    std::vector<utl::CBGR8> scratch;
    return GetDisplayLUT(layer, scratch, channel);
}

bool CBaseScope::DelDisplayLUT(int layer, int channel)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().DelLUT(plane, channel);
    });
}

bool CBaseScope::UseLUT(int layer, int value)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().UseLUT(plane, value);
    });
}

bool CBaseScope::SetChannelVisible(int layer, int channel, bool visible)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        renderer2D().SetVisibility(plane, channel, visible);
        return true;
    });
}

bool CBaseScope::IsChannelVisible(int layer, int channel, bool& visible) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        visible = renderer2D().IsVisible(plane, channel);
        return true;
    });
}

bool CBaseScope::SetFunction(int layer, int channel, ELayerFunction function)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().SetFunction(plane, channel, function);
    });
}

bool CBaseScope::GetFunction(int layer, int channel, ELayerFunction& function) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        ELayerFunction result = function;
        if (plane == -1 || !renderer2D().GetFunction(plane, channel, result))
            return false;
        function = result;
        return true;
    });
}

bool CBaseScope::SetOpacity(int layer, double const& opacity)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().SetProperty(plane, kPropOpacity, mem::CBin(opacity));
    });
}

bool CBaseScope::GetOpacity(int layer, double& opacity) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        double result = opacity;
        if (plane == -1 || !renderer2D().GetGamma(plane, 0, result))
            return false;
        opacity = result;
        return true;
    });
}

bool CBaseScope::HasDisplayFilter(int layer) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        boost::shared_ptr<CDisplayFilter> filter;
        renderer2D().GetDisplayFilter(plane, filter);
        return filter != nullptr;
    });
}

bool CBaseScope::SetDisplayFilter(int& layer, boost::shared_ptr<CDisplayFilter> filter)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().SetDisplayFilter(plane, filter);
    });
}

bool CBaseScope::ResetDisplayFilter(int layer)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().ResetDisplayFilter(plane);
    });
}

boost::shared_ptr<CMask> CBaseScope::CreateTranspMask(int layer, unsigned char value)
{
    return Guarded(boost::shared_ptr<CMask>(), [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return boost::shared_ptr<CMask>();
        return renderer2D().CreateTransparencyMask(plane, value);
    });
}

boost::shared_ptr<CMask> CBaseScope::GetTranspMask(int layer)
{
    return static_cast<CBaseScope const&>(*this).GetTranspMask(layer);
}

boost::shared_ptr<CMask> CBaseScope::GetTranspMask(int layer) const
{
    return Guarded(boost::shared_ptr<CMask>(), [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return boost::shared_ptr<CMask>();
        return renderer2D().GetTransparencyMask(plane);
    });
}

bool CBaseScope::DelTranspMask(int layer)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        renderer2D().DeleteTransparencyMask(plane);
        return true;
    });
}

std::set<int> CBaseScope::GetChannelIDs(int layer)
{
    return Guarded(std::set<int>(), [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return std::set<int>();
        return renderer2D().GetChannelList(plane, true);
    });
}

// ---------------------------------------------------------------- channel selection (by plane)

bool CBaseScope::GetSelectedChannels(int plane, std::set<int>& channels) const
{
    return Guarded(false, [&] {
        std::set<int> result = renderer2D().GetSelectedChannels(plane);
        if (result.empty())
            return false;
        channels.swap(result);
        return true;
    });
}

bool CBaseScope::SelectChannel(int plane, int channel)
{
    // An empty selection means "not selecting by channel"; adding one
    // channel must not silently turn that into "only this channel".
    std::set<int> selection;
    if (!GetSelectedChannels(plane, selection))
        return false;
    selection.insert(channel);
    return Guarded(false, [&] { return renderer2D().SetSelectedChannels(plane, selection); });
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
    return Guarded(false, [&] { return renderer2D().SetSelectedChannels(plane, selection); });
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
    return Guarded(false, [&] {
        FrameSet result;
        if (!renderer2D().GetFrameSelection(plane, result))
            return false;
        frames.swap(result);
        return true;
    });
}

bool CBaseScope::ResetFrameSelection(int plane)
{
    return Guarded(true, [&] {
        renderer2D().SetFrameSelection(plane, FrameSet());
        return true;
    });
}

bool CBaseScope::SelectFrame(int layer, geo::CiVecN const& index)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1 || !TestOrder(layer, index))
            return false;
        return EditFrameSelection(renderer2D(), plane, [&](FrameSet& selection) { selection.insert(index); });
    });
}

bool CBaseScope::UnselectFrame(int layer, geo::CiVecN const& index)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1 || !TestOrder(layer, index))
            return false;
        return EditFrameSelection(renderer2D(), plane, [&](FrameSet& selection) { selection.erase(index); });
    });
}

bool CBaseScope::SelectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to)
{
    // A bad_alloc midway leaves the tree's selection untouched.
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1 || from.size() != to.size() || !TestOrder(layer, from))
            return false;
        if (RangeCount(from, to) > kMaxRangeIndices)
            return false;
        // Written back even when the range is empty, as a single index is.
        return EditFrameSelection(renderer2D(), plane,
                                  [&](FrameSet& selection) { InsertRange(selection, from, to); });
    });
}

bool CBaseScope::UnselectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1 || from.size() != to.size() || !TestOrder(layer, from))
            return false;
        return EditFrameSelection(renderer2D(), plane,
                                  [&](FrameSet& selection) { EraseRange(selection, from, to); });
    });
}

}  // namespace img
