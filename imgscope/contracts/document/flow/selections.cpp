#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/flow/flow_access_internal.h"

#include <algorithm>

namespace img {

using detail::tEntry;
using detail::tFlowState;
using namespace detail::flow;

// ---------------------------------------------------------------- selections

bool CDisplProcessFlow::GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry)
        return false;
    frames = entry->frameSelection;
    return true;
}

bool CDisplProcessFlow::SetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess> const& frames)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    CStack stack;
    tEntry* entry = r.LayerWithStack(plane, stack);
    if (!entry)
        return false;
    const std::size_t order = std::size_t(std::max(0, stack.DimCount(0)));
    for (geo::CiVecN const& frame : frames) {
        if (frame.size() != order)
            return false;
    }
    entry->frameSelection = frames;
    r.Notify(eChangeDisplay);
    return true;
}

std::set<int> CDisplProcessFlow::GetSelectedChannels(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->selectedChannels : std::set<int>();
}

bool CDisplProcessFlow::SetSelectedChannels(int plane, std::set<int> const& channels)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    const std::vector<int> all = detail::ChannelsOf(r.StackOf(*entry));
    for (int c : channels) {
        if (!Contains(all, c))
            return false;
    }
    entry->selectedChannels = channels;
    r.Notify(eChangeDisplay);
    return true;
}

std::set<int> CDisplProcessFlow::GetChannelList(int plane, bool visibleOnly) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    std::set<int> result;
    tEntry const* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return result;
    for (int c : detail::ChannelsOf(r.StackOf(*entry))) {
        auto it = entry->channels.find(c);
        if (!visibleOnly || it == entry->channels.end() || it->second.visible)
            result.insert(c);
    }
    return result;
}

bool CDisplProcessFlow::SetActiveFrameIndex(utl::CIndexN const& frame, int plane)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    CStack stack;
    tEntry* entry = r.LayerWithStack(plane, stack);
    if (!entry || (!frame.empty() && int(frame.size()) != stack.DimCount(0)))
        return false;
    entry->hasActiveFrame = true;
    entry->activeFrame = frame;
    r.Notify(eChangeDisplay);
    return true;
}

utl::CIndexN CDisplProcessFlow::GetActiveFrameIndex(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return utl::CIndexN();
    if (entry->hasActiveFrame)
        return entry->activeFrame;
    const CStack stack = r.StackOf(*entry);
    return stack.IsValid() ? stack.FrameIndexBegin(0) : utl::CIndexN();
}

bool CDisplProcessFlow::SetActiveStackDim(int plane, int dim)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    CStack stack;
    tEntry* entry = r.LayerWithStack(plane, stack);
    if (!entry || dim < -1 || dim >= stack.DimCount(0))
        return false;
    entry->activeStackDim = dim;
    r.Notify(eChangeDisplay);
    return true;
}

int CDisplProcessFlow::GetActiveStackDim(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->activeStackDim : -1;
}

// ---------------------------------------------------------------- active operation layer

bool CDisplProcessFlow::SetActiveOpLayer(int plane)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    CStack stack;
    tEntry* entry = r.LayerWithStack(plane, stack);
    if (!entry)
        return false;
    r.state.activeOpLayer[int(stack.GetLayerType())] = plane;
    r.Notify(eChangeDisplay);
    return true;
}

int CDisplProcessFlow::GetActiveOpLayer(ELayerType type) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tFlowState const& state = *m_flow->state;
    auto it = state.activeOpLayer.find(int(type));
    if (it == state.activeOpLayer.end() || !state.FindLayerEntry(it->second))
        return -1;
    return it->second;
}

int CDisplProcessFlow::GetActiveStackID(ELayerType type) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    return GetStackId(GetActiveOpLayer(type));
}

}  // namespace img
