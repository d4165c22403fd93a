#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/flow/flow_access_internal.h"

#include <climits>

namespace img {

using detail::tEntry;
using detail::tFlowState;
using namespace detail::flow;

// ---------------------------------------------------------------- tree

int CDisplProcessFlow::RootId() const { return m_flow->state->rootId; }

bool CDisplProcessFlow::Exists(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    return m_flow->state->Find(plane) != nullptr;
}

bool CDisplProcessFlow::IsGroup(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->Find(plane);
    return entry && entry->isGroup && plane != m_flow->state->rootId;
}

int CDisplProcessFlow::GetStackId(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->layerId : -1;
}

CStack CDisplProcessFlow::GetStack(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.FindLayerEntry(plane);
    return entry ? r.StackOf(*entry) : CStack();
}

int CDisplProcessFlow::FindLayer(int layerId) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    return m_flow->state->PlaneOf(layerId);
}

bool CDisplProcessFlow::IsVectorGraficLayer(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    const CStack stack = GetStack(plane);
    return stack.IsValid() && stack.GetLayerType() == eLayerTypeVector;
}

int CDisplProcessFlow::GetParentGroup(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    int position = 0;
    return GetParentGroup(plane, position);
}

int CDisplProcessFlow::GetParentGroup(int plane, int& position) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tFlowState const& state = *m_flow->state;
    tEntry const* entry = state.Find(plane);
    if (!entry || plane == state.rootId)
        return -1;
    const int index = PositionOf(state, *entry);
    if (index < 0)
        return -1;
    position = index;
    return entry->parent;
}

int CDisplProcessFlow::GetOpUnitCount(int parent) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tFlowState const& state = *m_flow->state;
    tEntry const* entry = state.Find(parent == -1 ? state.rootId : parent);
    return entry ? int(entry->children.size()) : -1;
}

int CDisplProcessFlow::GetOpUnit(int parent, int position) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tFlowState const& state = *m_flow->state;
    tEntry const* entry = state.Find(parent == -1 ? state.rootId : parent);
    if (!entry || position < 0 || position >= int(entry->children.size()))
        return -1;
    return entry->children[std::size_t(position)];
}

int CDisplProcessFlow::GetZOrder(int plane) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tFlowState const& state = *m_flow->state;
    tEntry const* entry = state.Find(plane);
    if (!entry || plane == state.rootId)
        return -1;
    return PositionOf(state, *entry);
}

int CDisplProcessFlow::InsertLayer(int parent, int position, int layerId, utl::CIndexN const& frame, int channel)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    if (!r.flow.document || r.state.nextPlaneId == INT_MAX)
        return -1;
    const CStack stack = r.flow.document->FindStack(layerId);
    if (!stack.IsValid() || r.state.PlaneOf(layerId) >= 0)
        return -1;
    tEntry* parentEntry = r.state.Find(parent == -1 ? r.state.rootId : parent);
    if (!parentEntry || !parentEntry->isGroup)
        return -1;
    if (!frame.empty() && int(frame.size()) != stack.DimCount(0))
        return -1;
    const std::vector<int> channels = detail::ChannelsOf(stack);
    if (channel != -1 && !Contains(channels, channel))
        return -1;

    tEntry entry;
    entry.id = r.state.nextPlaneId++;
    entry.parent = parentEntry->id;
    entry.layerId = layerId;
    if (!frame.empty()) {
        entry.hasActiveFrame = true;
        entry.activeFrame = frame;
    }
    // -1 shows and selects every channel; a channel number shows that one.
    for (int c : channels) {
        if (channel == -1 || c == channel)
            entry.selectedChannels.insert(c);
        else
            entry.channels[c].visible = false;
    }
    const int plane = entry.id;
    const int index = ResolvePosition(position, parentEntry->children.size());
    parentEntry->children.insert(parentEntry->children.begin() + index, plane);
    r.state.entries.emplace(plane, std::move(entry));
    r.state.planeOfLayer[layerId] = plane;
    r.Notify(eChangeLayerTree);
    return plane;
}

int CDisplProcessFlow::InsertGroup(int parent, int position)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    if (!r.flow.document || r.state.nextPlaneId == INT_MAX)
        return -1;
    if (parent != -1 && parent != r.state.rootId)
        return -1;
    tEntry& root = *r.state.Find(r.state.rootId);
    tEntry group;
    group.id = r.state.nextPlaneId++;
    group.parent = root.id;
    group.isGroup = true;
    const int plane = group.id;
    const int index = ResolvePosition(position, root.children.size());
    root.children.insert(root.children.begin() + index, plane);
    r.state.entries.emplace(plane, std::move(group));
    r.Notify(eChangeLayerTree);
    return plane;
}

bool CDisplProcessFlow::MoveTo(int plane, int parent, int position)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId)
        return false;
    tEntry* target = r.state.Find(parent == -1 ? r.state.rootId : parent);
    if (!target || !target->isGroup)
        return false;
    if (entry->isGroup && target->id != r.state.rootId)
        return false;
    tEntry* from = r.state.Find(entry->parent);
    if (!from)
        return false;
    int index = ResolvePosition(position, target->children.size());
    const int current = PositionOf(r.state, *entry);
    if (from == target) {
        // The position counts in the list before the move.
        if (index == current || index == current + 1)
            return true;
        if (index > current)
            --index;
    }
    from->children.erase(from->children.begin() + current);
    target->children.insert(target->children.begin() + index, plane);
    entry->parent = target->id;
    r.Notify(eChangeLayerTree);
    return true;
}

bool CDisplProcessFlow::Remove(int plane)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    if (!r.state.Find(plane) || plane == r.state.rootId)
        return false;
    r.state.Erase(plane);
    r.Notify(eChangeLayerTree);
    return true;
}

}  // namespace img
