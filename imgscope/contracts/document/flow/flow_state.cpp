#include "imgscope/contracts/document/display_flow_internal.h"

#include "imgscope/contracts/document/document_internal.h"
#include "imgscope/contracts/document/mask.h"

#include <algorithm>

namespace img {
namespace detail {

tFlowState::tFlowState() : messages(new CNotifier), ownLock(new CRecordLock)
{
    lock = ownLock.get();
    tEntry root;
    root.id = rootId;
    root.isGroup = true;
    entries.emplace(rootId, std::move(root));
}

boost::shared_ptr<tFlowState> tFlowState::Clone() const
{
    boost::shared_ptr<tFlowState> copy(new tFlowState(*this));
    copy->messages.reset(new CNotifier);
    copy->ownLock.reset(new CRecordLock);
    copy->lock = copy->ownLock.get();
    for (auto& item : copy->entries) {
        if (item.second.mask)
            item.second.mask.reset(new CMask(*item.second.mask));
    }
    return copy;
}

tEntry* tFlowState::Find(int plane)
{
    auto it = entries.find(plane);
    return it == entries.end() ? nullptr : &it->second;
}

tEntry const* tFlowState::Find(int plane) const
{
    auto it = entries.find(plane);
    return it == entries.end() ? nullptr : &it->second;
}

tEntry* tFlowState::FindLayerEntry(int plane)
{
    tEntry* entry = Find(plane);
    return entry && !entry->isGroup ? entry : nullptr;
}

tEntry const* tFlowState::FindLayerEntry(int plane) const
{
    tEntry const* entry = Find(plane);
    return entry && !entry->isGroup ? entry : nullptr;
}

int tFlowState::PlaneOf(int layerId) const
{
    auto it = planeOfLayer.find(layerId);
    return it == planeOfLayer.end() ? -1 : it->second;
}

void tFlowState::Erase(int plane)
{
    tEntry* entry = Find(plane);
    if (!entry || plane == rootId)
        return;
    // Children first; copy the list, erasing edits it.
    const std::vector<int> children = entry->children;
    for (int child : children)
        Erase(child);
    entry = Find(plane);
    if (tEntry* parent = Find(entry->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), plane), siblings.end());
    }
    if (entry->layerId >= 0) {
        auto it = planeOfLayer.find(entry->layerId);
        if (it != planeOfLayer.end() && it->second == plane)
            planeOfLayer.erase(it);
    }
    for (auto it = activeOpLayer.begin(); it != activeOpLayer.end();) {
        if (it->second == plane)
            it = activeOpLayer.erase(it);
        else
            ++it;
    }
    entries.erase(plane);
}

void ForgetLayer(tFlowState& tree, int layerId)
{
    const int plane = tree.PlaneOf(layerId);
    if (plane < 0)
        return;
    tree.Erase(plane);
    tree.messages->Notify(eChangeLayerTree);
}

std::vector<int> ChannelsOf(CStack const& stack)
{
    std::vector<int> channels;
    if (!stack.IsValid())
        return channels;
    // -1 ends the walk (channels along a dimension may be other negative
    // positions); a walk that does not move forward ends too.
    constexpr int kMaxChannels = 65536;
    for (int c = stack.FirstChannel(); c != -1 && int(channels.size()) < kMaxChannels; c = stack.NextChannel(c)) {
        if (!channels.empty() && c <= channels.back())
            break;
        channels.push_back(c);
    }
    return channels;
}

}  // namespace detail
}  // namespace img
