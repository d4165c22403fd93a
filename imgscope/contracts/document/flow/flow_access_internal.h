// Lookups shared by the members of CDisplProcessFlow: entries by plane,
// positions in a parent's list, a layer entry's stack and channels, and
// one-field reads and writes. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow_internal.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace img {
namespace detail {
namespace flow {

inline bool Contains(std::vector<int> const& list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Index of `plane` in its parent's list, or -1.
inline int PositionOf(tFlowState const& state, tEntry const& entry)
{
    tEntry const* parent = state.Find(entry.parent);
    if (!parent)
        return -1;
    auto it = std::find(parent->children.begin(), parent->children.end(), entry.id);
    return it == parent->children.end() ? -1 : int(it - parent->children.begin());
}

// Resolves an insertion position: -2 start, -3 end, others clamped.
inline int ResolvePosition(int position, std::size_t count)
{
    if (position == -3)
        return int(count);
    if (position == -2)
        return 0;
    return std::clamp(position, 0, int(count));
}

struct tResolve {
    detail::tFlow& flow;
    tFlowState& state;

    CStack StackOf(tEntry const& entry) const
    {
        if (!flow.document || entry.layerId < 0)
            return CStack();
        return flow.document->FindStack(entry.layerId);
    }
    bool IsChannelOf(tEntry const& entry, int channel) const
    {
        return channel != -1 && Contains(detail::ChannelsOf(StackOf(entry)), channel);
    }
    // The channels `channel` names: all for -1, else itself when it exists.
    std::vector<int> Targets(tEntry const& entry, int channel) const
    {
        const std::vector<int> all = detail::ChannelsOf(StackOf(entry));
        if (channel == -1)
            return all;
        if (Contains(all, channel))
            return {channel};
        return {};
    }
    // The layer entry of `plane` and its stack (`stack`), or null when the
    // plane is no layer or its stack is gone.
    tEntry* LayerWithStack(int plane, CStack& stack) const
    {
        tEntry* entry = state.FindLayerEntry(plane);
        if (!entry)
            return nullptr;
        stack = StackOf(*entry);
        return stack.IsValid() ? entry : nullptr;
    }
    void Notify(EChange change) const { state.messages->Notify(change); }
};

// An entry below the root (a layer's or a group's); null for the root and
// unknown IDs.
inline tEntry* ChildOf(tFlowState& state, int plane)
{
    return plane == state.rootId ? nullptr : state.Find(plane);
}

inline tEntry* GroupOf(tFlowState& state, int group)
{
    tEntry* entry = ChildOf(state, group);
    return entry && entry->isGroup ? entry : nullptr;
}

// Writes one display field of `entry` and tells subscribers; false when
// there is no entry.
template <class T>
inline bool SetEntryField(tFlowState& state, tEntry* entry, T tEntry::*field, T const& value)
{
    if (!entry)
        return false;
    entry->*field = value;
    state.messages->Notify(eChangeDisplay);
    return true;
}

// Reads one field of `entry`; false, with `value` untouched, when there is
// no entry.
template <class T>
inline bool GetEntryField(tEntry const* entry, T tEntry::*field, T& value)
{
    if (!entry)
        return false;
    value = entry->*field;
    return true;
}

}  // namespace flow
}  // namespace detail
}  // namespace img
