#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/flow/flow_access_internal.h"

namespace img {

using detail::tEntry;
using detail::tFlowState;
using namespace detail::flow;

namespace {

using tFinder = tEntry* (*)(tFlowState&, int);

// A field of the entry `find` picks for `id`, set or read under the
// document's lock; false when there is no such entry.
template <class T>
bool SetField(detail::tFlow& flow, tFinder find, int id, T tEntry::*field, T const& value)
{
    const auto guard = detail::Changing(*flow.state->lock);
    tFlowState& state = *flow.state;
    return SetEntryField(state, find(state, id), field, value);
}

template <class T>
bool GetField(detail::tFlow const& flow, tFinder find, int id, T tEntry::*field, T& value)
{
    const auto guard = detail::Reading(*flow.state->lock);
    return GetEntryField(find(*flow.state, id), field, value);
}

// A plain flag of any entry; false for unknown planes.
bool EntryFlag(detail::tFlow const& flow, int plane, bool tEntry::*flag)
{
    const auto guard = detail::Reading(*flow.state->lock);
    tEntry const* entry = flow.state->Find(plane);
    return entry && entry->*flag;
}

}  // namespace

// ---------------------------------------------------------------- visibility

bool CDisplProcessFlow::SetVisibility(int plane, bool visible)
{
    return SetField(*m_flow, &ChildOf, plane, &tEntry::visible, visible);
}

bool CDisplProcessFlow::IsVisible(int plane) const
{
    return EntryFlag(*m_flow, plane, &tEntry::visible);
}

bool CDisplProcessFlow::SetVisibility(int plane, int channel, bool visible)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    const std::vector<int> targets = r.Targets(*entry, channel);
    if (targets.empty())
        return false;
    for (int c : targets)
        entry->channels[c].visible = visible;
    r.Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::IsVisible(int plane, int channel) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.FindLayerEntry(plane);
    if (!entry || !r.IsChannelOf(*entry, channel))
        return false;
    auto it = entry->channels.find(channel);
    return it == entry->channels.end() || it->second.visible;
}

bool CDisplProcessFlow::SetHidden(int plane, bool hidden)
{
    return SetField(*m_flow, &ChildOf, plane, &tEntry::hidden, hidden);
}

bool CDisplProcessFlow::IsHidden(int plane) const
{
    return EntryFlag(*m_flow, plane, &tEntry::hidden);
}

// ---------------------------------------------------------------- groups

bool CDisplProcessFlow::GetGroupName(int group, CString& name) const
{
    return GetField(*m_flow, &GroupOf, group, &tEntry::name, name);
}

bool CDisplProcessFlow::SetGroupName(int group, CString const& name)
{
    return SetField(*m_flow, &GroupOf, group, &tEntry::name, name);
}

bool CDisplProcessFlow::LockGroup(int group, bool lock)
{
    return SetField(*m_flow, &GroupOf, group, &tEntry::locked, lock);
}

bool CDisplProcessFlow::IsGroupLocked(int group, bool& locked) const
{
    return GetField(*m_flow, &GroupOf, group, &tEntry::locked, locked);
}

bool CDisplProcessFlow::SetGroupSingular(int group, bool singular)
{
    return SetField(*m_flow, &GroupOf, group, &tEntry::singular, singular);
}

bool CDisplProcessFlow::IsGroupSingular(int group, bool& singular) const
{
    return GetField(*m_flow, &GroupOf, group, &tEntry::singular, singular);
}

// ---------------------------------------------------------------- LUTs, gamma, function, filter

bool CDisplProcessFlow::GetLUT(int plane, int channel, std::vector<utl::CBGR8>& lut) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.FindLayerEntry(plane);
    if (!entry || !r.IsChannelOf(*entry, channel))
        return false;
    auto it = entry->channels.find(channel);
    if (it == entry->channels.end() || !it->second.hasLut)
        return false;
    lut = it->second.lut;
    return true;
}

bool CDisplProcessFlow::SetLUT(int plane, int channel, std::vector<utl::CBGR8> const& lut)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry || lut.empty())
        return false;
    const std::vector<int> targets = r.Targets(*entry, channel);
    if (targets.empty())
        return false;
    for (int c : targets) {
        entry->channels[c].lut = lut;
        entry->channels[c].hasLut = true;
    }
    r.Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::DelLUT(int plane, int channel)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    const std::vector<int> targets = r.Targets(*entry, channel);
    bool removed = false;
    for (int c : targets) {
        auto it = entry->channels.find(c);
        if (it != entry->channels.end() && it->second.hasLut) {
            it->second.hasLut = false;
            it->second.lut.clear();
            removed = true;
        }
    }
    if (removed)
        r.Notify(eChangeDisplay);
    // -1 succeeds for any layer entry; a single channel needs a LUT to drop.
    return channel == -1 || removed;
}

bool CDisplProcessFlow::UseLUT(int plane, int value)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    entry->useLut = value;
    r.Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::GetUseLUT(int plane, int& value) const
{
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry)
        return false;
    value = entry->useLut;
    return true;
}

namespace {

// Channel -1 and every channel of a layer address the entry-wide value.
// Channel 0 always does: it is how opacity is read back, also for groups
// and vector layers, which have no channels.
bool IsGammaChannel(tResolve const& r, tEntry const& entry, int channel)
{
    if (channel == -1 || channel == 0)
        return true;
    return !entry.isGroup && r.IsChannelOf(entry, channel);
}

}  // namespace

bool CDisplProcessFlow::GetGamma(int plane, int channel, double& gamma) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId || !IsGammaChannel(r, *entry, channel))
        return false;
    double value = 1.0;
    if (mem::CBin const* bin = entry->properties.AccessProperty(detail::kOpacityProperty))
        bin->GetPlainOrUnit(value);
    gamma = value;
    return true;
}

bool CDisplProcessFlow::SetGamma(int plane, int channel, double gamma)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId || !IsGammaChannel(r, *entry, channel))
        return false;
    if (!(gamma >= 0.0 && gamma <= 1.0))
        return false;
    entry->properties.SetProperty(detail::kOpacityProperty, mem::CBin(gamma));
    r.Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::SetFunction(int plane, int channel, ELayerFunction function)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry || int(function) < int(eFunctionNormal) || int(function) > int(eFunctionMin))
        return false;
    const std::vector<int> targets = r.Targets(*entry, channel);
    if (targets.empty())
        return false;
    for (int c : targets)
        entry->channels[c].function = function;
    r.Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::GetFunction(int plane, int channel, ELayerFunction& function) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.FindLayerEntry(plane);
    if (!entry || !r.IsChannelOf(*entry, channel))
        return false;
    auto it = entry->channels.find(channel);
    function = it == entry->channels.end() ? eFunctionNormal : it->second.function;
    return true;
}

bool CDisplProcessFlow::GetDisplayFilter(int plane, boost::shared_ptr<CDisplayFilter>& filter) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !entry->filter)
        return false;
    filter = entry->filter;
    return true;
}

bool CDisplProcessFlow::SetDisplayFilter(int plane, boost::shared_ptr<CDisplayFilter> filter)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tEntry* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !filter)
        return false;
    entry->filter = filter;
    m_flow->state->messages->Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::ResetDisplayFilter(int plane)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tEntry* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry)
        return false;
    entry->filter.reset();
    m_flow->state->messages->Notify(eChangeDisplay);
    return true;
}

// ---------------------------------------------------------------- transparency masks

boost::shared_ptr<CMask> CDisplProcessFlow::CreateTransparencyMask(int plane, unsigned char value)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    CStack stack;
    tEntry* entry = r.LayerWithStack(plane, stack);
    if (!entry)
        return {};
    boost::shared_ptr<CMask> mask = CMask::Create(stack.GetBoundary(), value);
    if (!mask)
        return {};
    entry->mask = mask;
    r.Notify(eChangeDisplay);
    return mask;
}

boost::shared_ptr<CMask> CDisplProcessFlow::GetTransparencyMask(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->mask : boost::shared_ptr<CMask>();
}

bool CDisplProcessFlow::DeleteTransparencyMask(int plane)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tEntry* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !entry->mask)
        return false;
    entry->mask.reset();
    m_flow->state->messages->Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::SetTransparencyMaskActive(int plane, bool active)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tFlowState& state = *m_flow->state;
    return SetEntryField(state, state.FindLayerEntry(plane), &tEntry::maskActive, active);
}

bool CDisplProcessFlow::IsTransparencyMaskActive(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry && entry->maskActive && entry->mask;
}

}  // namespace img
