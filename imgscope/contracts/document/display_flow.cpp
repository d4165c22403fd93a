#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/compositor_internal.h"
#include "imgscope/contracts/document/display_flow_internal.h"
#include "imgscope/contracts/document/document_internal.h"
#include "imgscope/contracts/document/mask.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace img {
namespace detail {

tFlowState::tFlowState() : messages(new CNotifier)
{
    tEntry root;
    root.id = rootId;
    root.isGroup = true;
    entries.emplace(rootId, std::move(root));
}

boost::shared_ptr<tFlowState> tFlowState::Clone() const
{
    boost::shared_ptr<tFlowState> copy(new tFlowState(*this));
    copy->messages.reset(new CNotifier);
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

namespace {

using detail::tEntry;
using detail::tFlowState;

bool IsFinite(geo::CdVec2 const& v) { return std::isfinite(v.x) && std::isfinite(v.y); }
bool IsFinite(geo::CdRect const& r)
{
    return std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) && std::isfinite(r.bottom);
}
bool IsUsableScale(geo::CdVec2 const& s) { return IsFinite(s) && s.x != 0.0 && s.y != 0.0; }

bool Contains(std::vector<int> const& list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Index of `plane` in its parent's list, or -1.
int PositionOf(tFlowState const& state, tEntry const& entry)
{
    tEntry const* parent = state.Find(entry.parent);
    if (!parent)
        return -1;
    auto it = std::find(parent->children.begin(), parent->children.end(), entry.id);
    return it == parent->children.end() ? -1 : int(it - parent->children.begin());
}

// Resolves an insertion position: -2 start, -3 end, others clamped.
int ResolvePosition(int position, std::size_t count)
{
    if (position == -3)
        return int(count);
    if (position == -2)
        return 0;
    return std::clamp(position, 0, int(count));
}

}  // namespace

// ---------------------------------------------------------------- handles

CDisplProcessFlow::CDisplProcessFlow() : m_flow(new detail::tFlow)
{
    m_flow->state.reset(new tFlowState);
}

CDisplProcessFlow::CDisplProcessFlow(CImg const& document, bool independentCopy) : m_flow(new detail::tFlow)
{
    m_flow->document = document;
    detail::tDocument& record = DocumentOf(document);
    if (independentCopy) {
        m_flow->state = record.tree ? record.tree->Clone() : boost::shared_ptr<tFlowState>(new tFlowState);
    } else {
        if (!record.tree)
            record.tree.reset(new tFlowState);
        m_flow->state = record.tree;
    }
}

CDisplProcessFlow::CDisplProcessFlow(CDisplProcessFlow const& other) = default;
CDisplProcessFlow& CDisplProcessFlow::operator=(CDisplProcessFlow const& other) = default;
CDisplProcessFlow::~CDisplProcessFlow() = default;

// ---------------------------------------------------------------- helpers

namespace {

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
    void Notify(EChange change) const { state.messages->Notify(change); }
};

// An entry below the root (a layer's or a group's); null for the root and
// unknown IDs.
tEntry* ChildOf(tFlowState& state, int plane)
{
    return plane == state.rootId ? nullptr : state.Find(plane);
}

tEntry* GroupOf(tFlowState& state, int group)
{
    tEntry* entry = ChildOf(state, group);
    return entry && entry->isGroup ? entry : nullptr;
}

// Writes one display field of `entry` and tells subscribers; false when
// there is no entry.
template <class T>
bool SetEntryField(tFlowState& state, tEntry* entry, T tEntry::*field, T const& value)
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
bool GetEntryField(tEntry const* entry, T tEntry::*field, T& value)
{
    if (!entry)
        return false;
    value = entry->*field;
    return true;
}

}  // namespace


// ---------------------------------------------------------------- tree

int CDisplProcessFlow::RootId() const { return m_flow->state->rootId; }

bool CDisplProcessFlow::Exists(int plane) const { return m_flow->state->Find(plane) != nullptr; }

bool CDisplProcessFlow::IsGroup(int plane) const
{
    tEntry const* entry = m_flow->state->Find(plane);
    return entry && entry->isGroup && plane != m_flow->state->rootId;
}

int CDisplProcessFlow::GetStackId(int plane) const
{
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->layerId : -1;
}

CStack CDisplProcessFlow::GetStack(int plane) const
{
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.FindLayerEntry(plane);
    return entry ? r.StackOf(*entry) : CStack();
}

int CDisplProcessFlow::FindLayer(int layerId) const { return m_flow->state->PlaneOf(layerId); }

bool CDisplProcessFlow::IsVectorGraficLayer(int plane) const
{
    const CStack stack = GetStack(plane);
    return stack.IsValid() && stack.GetLayerType() == eLayerTypeVector;
}

int CDisplProcessFlow::GetParentGroup(int plane) const
{
    int position = 0;
    return GetParentGroup(plane, position);
}

int CDisplProcessFlow::GetParentGroup(int plane, int& position) const
{
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
    tFlowState const& state = *m_flow->state;
    tEntry const* entry = state.Find(parent == -1 ? state.rootId : parent);
    return entry ? int(entry->children.size()) : -1;
}

int CDisplProcessFlow::GetOpUnit(int parent, int position) const
{
    tFlowState const& state = *m_flow->state;
    tEntry const* entry = state.Find(parent == -1 ? state.rootId : parent);
    if (!entry || position < 0 || position >= int(entry->children.size()))
        return -1;
    return entry->children[std::size_t(position)];
}

int CDisplProcessFlow::GetZOrder(int plane) const
{
    tFlowState const& state = *m_flow->state;
    tEntry const* entry = state.Find(plane);
    if (!entry || plane == state.rootId)
        return -1;
    return PositionOf(state, *entry);
}

int CDisplProcessFlow::InsertLayer(int parent, int position, int layerId, utl::CIndexN const& frame, int channel)
{
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
    tResolve r{*m_flow, *m_flow->state};
    if (!r.state.Find(plane) || plane == r.state.rootId)
        return false;
    r.state.Erase(plane);
    r.Notify(eChangeLayerTree);
    return true;
}

// ---------------------------------------------------------------- visibility

bool CDisplProcessFlow::SetVisibility(int plane, bool visible)
{
    tFlowState& state = *m_flow->state;
    return SetEntryField(state, ChildOf(state, plane), &tEntry::visible, visible);
}

bool CDisplProcessFlow::IsVisible(int plane) const
{
    tEntry const* entry = m_flow->state->Find(plane);
    return entry && entry->visible;
}

bool CDisplProcessFlow::SetVisibility(int plane, int channel, bool visible)
{
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
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.FindLayerEntry(plane);
    if (!entry || !r.IsChannelOf(*entry, channel))
        return false;
    auto it = entry->channels.find(channel);
    return it == entry->channels.end() || it->second.visible;
}

bool CDisplProcessFlow::SetHidden(int plane, bool hidden)
{
    tFlowState& state = *m_flow->state;
    return SetEntryField(state, ChildOf(state, plane), &tEntry::hidden, hidden);
}

bool CDisplProcessFlow::IsHidden(int plane) const
{
    tEntry const* entry = m_flow->state->Find(plane);
    return entry && entry->hidden;
}

// ---------------------------------------------------------------- groups

bool CDisplProcessFlow::GetGroupName(int group, CString& name) const
{
    return GetEntryField(GroupOf(*m_flow->state, group), &tEntry::name, name);
}

bool CDisplProcessFlow::SetGroupName(int group, CString const& name)
{
    tFlowState& state = *m_flow->state;
    return SetEntryField(state, GroupOf(state, group), &tEntry::name, name);
}

bool CDisplProcessFlow::LockGroup(int group, bool lock)
{
    tFlowState& state = *m_flow->state;
    return SetEntryField(state, GroupOf(state, group), &tEntry::locked, lock);
}

bool CDisplProcessFlow::IsGroupLocked(int group, bool& locked) const
{
    return GetEntryField(GroupOf(*m_flow->state, group), &tEntry::locked, locked);
}

bool CDisplProcessFlow::SetGroupSingular(int group, bool singular)
{
    tFlowState& state = *m_flow->state;
    return SetEntryField(state, GroupOf(state, group), &tEntry::singular, singular);
}

bool CDisplProcessFlow::IsGroupSingular(int group, bool& singular) const
{
    return GetEntryField(GroupOf(*m_flow->state, group), &tEntry::singular, singular);
}

// ---------------------------------------------------------------- LUTs, gamma, function, filter

bool CDisplProcessFlow::GetLUT(int plane, int channel, std::vector<utl::CBGR8>& lut) const
{
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
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    entry->useLut = value;
    r.Notify(eChangeDisplay);
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
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !entry->filter)
        return false;
    filter = entry->filter;
    return true;
}

bool CDisplProcessFlow::SetDisplayFilter(int plane, boost::shared_ptr<CDisplayFilter> filter)
{
    tEntry* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !filter)
        return false;
    entry->filter = filter;
    m_flow->state->messages->Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::ResetDisplayFilter(int plane)
{
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
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return {};
    const CStack stack = r.StackOf(*entry);
    if (!stack.IsValid())
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
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->mask : boost::shared_ptr<CMask>();
}

bool CDisplProcessFlow::DeleteTransparencyMask(int plane)
{
    tEntry* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !entry->mask)
        return false;
    entry->mask.reset();
    m_flow->state->messages->Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::SetTransparencyMaskActive(int plane, bool active)
{
    tFlowState& state = *m_flow->state;
    return SetEntryField(state, state.FindLayerEntry(plane), &tEntry::maskActive, active);
}

bool CDisplProcessFlow::IsTransparencyMaskActive(int plane) const
{
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry && entry->maskActive && entry->mask;
}

// ---------------------------------------------------------------- properties

namespace {

// The property set `channel` names: the entry's for -1, a channel's else.
utl::CPropSet* PropertiesOf(tResolve const& r, tEntry& entry, int channel)
{
    if (channel == -1)
        return &entry.properties;
    if (entry.isGroup || !r.IsChannelOf(entry, channel))
        return nullptr;
    return &entry.channels[channel].properties;
}

utl::CPropSet const* PropertiesOf(tResolve const& r, tEntry const& entry, int channel)
{
    if (channel == -1)
        return &entry.properties;
    if (entry.isGroup || !r.IsChannelOf(entry, channel))
        return nullptr;
    auto it = entry.channels.find(channel);
    static const utl::CPropSet kEmpty;
    return it == entry.channels.end() ? &kEmpty : &it->second.properties;
}

}  // namespace

bool CDisplProcessFlow::SetProperty(int plane, int id, mem::CBin const& value)
{
    return SetProperty(plane, -1, id, value);
}

bool CDisplProcessFlow::SetProperty(int plane, int channel, int id, mem::CBin const& value)
{
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId)
        return false;
    utl::CPropSet* props = PropertiesOf(r, *entry, channel);
    if (!props || !props->SetProperty(id, value))
        return false;
    r.Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::PropertyExists(int plane, int id) const { return PropertyExists(plane, -1, id); }

bool CDisplProcessFlow::PropertyExists(int plane, int channel, int id) const
{
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId)
        return false;
    utl::CPropSet const* props = PropertiesOf(r, *entry, channel);
    return props && props->PropertyExists(id);
}

bool CDisplProcessFlow::GetProperty(int plane, int id, mem::CBin& value) const
{
    return GetProperty(plane, -1, id, value);
}

bool CDisplProcessFlow::GetProperty(int plane, int channel, int id, mem::CBin& value) const
{
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId)
        return false;
    utl::CPropSet const* props = PropertiesOf(r, *entry, channel);
    return props && props->GetProperty(id, value);
}

// ---------------------------------------------------------------- selections

bool CDisplProcessFlow::GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const
{
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry)
        return false;
    frames = entry->frameSelection;
    return true;
}

bool CDisplProcessFlow::SetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess> const& frames)
{
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    const CStack stack = r.StackOf(*entry);
    if (!stack.IsValid())
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
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->selectedChannels : std::set<int>();
}

bool CDisplProcessFlow::SetSelectedChannels(int plane, std::set<int> const& channels)
{
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
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    const CStack stack = r.StackOf(*entry);
    if (!stack.IsValid() || (!frame.empty() && int(frame.size()) != stack.DimCount(0)))
        return false;
    entry->hasActiveFrame = true;
    entry->activeFrame = frame;
    r.Notify(eChangeDisplay);
    return true;
}

utl::CIndexN CDisplProcessFlow::GetActiveFrameIndex(int plane) const
{
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
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    const CStack stack = r.StackOf(*entry);
    if (!stack.IsValid() || dim < -1 || dim >= stack.DimCount(0))
        return false;
    entry->activeStackDim = dim;
    r.Notify(eChangeDisplay);
    return true;
}

int CDisplProcessFlow::GetActiveStackDim(int plane) const
{
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    return entry ? entry->activeStackDim : -1;
}

// ---------------------------------------------------------------- active operation layer

bool CDisplProcessFlow::SetActiveOpLayer(int plane)
{
    tResolve r{*m_flow, *m_flow->state};
    tEntry* entry = r.state.FindLayerEntry(plane);
    if (!entry)
        return false;
    const CStack stack = r.StackOf(*entry);
    if (!stack.IsValid())
        return false;
    r.state.activeOpLayer[int(stack.GetLayerType())] = plane;
    r.Notify(eChangeDisplay);
    return true;
}

int CDisplProcessFlow::GetActiveOpLayer(ELayerType type) const
{
    tFlowState const& state = *m_flow->state;
    auto it = state.activeOpLayer.find(int(type));
    if (it == state.activeOpLayer.end() || !state.FindLayerEntry(it->second))
        return -1;
    return it->second;
}

int CDisplProcessFlow::GetActiveStackID(ELayerType type) const
{
    return GetStackId(GetActiveOpLayer(type));
}

// ---------------------------------------------------------------- canvas

geo::CiRect CDisplProcessFlow::GetImagePlaneRect() const { return m_flow->state->canvas.pixelRect; }

void CDisplProcessFlow::SetImagePlaneRect(geo::CiRect const& rect)
{
    if (geo::IsInverted(rect))
        return;  // an inverted rectangle is never flipped into a canvas
    m_flow->state->canvas.pixelRect = rect;
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetImagePlaneCalibration(geo::CdVec2& origin, geo::CdVec2& scale, utl::CUnit2& units) const
{
    detail::tCanvas const& canvas = m_flow->state->canvas;
    if (!canvas.calibrated)
        return false;
    origin = canvas.origin;
    scale = canvas.scale;
    units = canvas.units;
    return true;
}

void CDisplProcessFlow::SetImagePlaneCalibration(geo::CdVec2 const& origin, geo::CdVec2 const& scale,
                                                 utl::CUnit2 const& units)
{
    // A calibration that cannot map back to pixels is refused: the canvas
    // keeps the one it has.
    if (!IsFinite(origin) || !IsUsableScale(scale))
        return;
    detail::tCanvas& canvas = m_flow->state->canvas;
    canvas.calibrated = true;
    canvas.origin = origin;
    canvas.scale = scale;
    canvas.units = units;
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetImagePlaneRWC(utl::TUnitValue<geo::CdRect>& rect) const
{
    detail::tCanvas const& canvas = m_flow->state->canvas;
    if (!canvas.calibrated || canvas.pixelRect.IsEmpty())
        return false;
    double yScale = canvas.scale.y;
    double yOrigin = canvas.origin.y;
    if (canvas.units.y != canvas.units.x) {
        if (!canvas.units.y.Compatible(canvas.units.x))
            return false;
        yScale = utl::Convert(yScale, canvas.units.y, canvas.units.x);
        yOrigin = utl::Convert(yOrigin, canvas.units.y, canvas.units.x);
    }
    geo::CiRect const& p = canvas.pixelRect;
    geo::CdRect value(p.left * canvas.scale.x + canvas.origin.x, p.top * yScale + yOrigin,
                      p.right * canvas.scale.x + canvas.origin.x, p.bottom * yScale + yOrigin);
    value.Normalize();
    rect = utl::TUnitValue<geo::CdRect>(canvas.units.x, value);
    return true;
}

void CDisplProcessFlow::SetImagePlaneRWC(utl::TUnitValue<geo::CdRect> const& rect)
{
    // The real-world rectangle is what the pixel rectangle covers, so
    // setting it calibrates the canvas; without pixels there is no scale.
    detail::tCanvas& canvas = m_flow->state->canvas;
    geo::CdRect value = rect.value;
    value.Normalize();
    if (canvas.pixelRect.IsEmpty() || !IsFinite(value) || value.IsEmpty())
        return;
    const geo::CdVec2 scale(value.Width() / canvas.pixelRect.Width(), value.Height() / canvas.pixelRect.Height());
    if (!IsUsableScale(scale))
        return;
    canvas.calibrated = true;
    canvas.scale = scale;
    canvas.origin =
        geo::CdVec2(value.left - canvas.pixelRect.left * scale.x, value.top - canvas.pixelRect.top * scale.y);
    canvas.units = utl::CUnit2(rect.unit, rect.unit);
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetCanvasRectangle(geo::CdRect& rect) const
{
    detail::tCanvas const& canvas = m_flow->state->canvas;
    if (!canvas.hasRectangle)
        return false;
    rect = canvas.rectangle;
    return true;
}

bool CDisplProcessFlow::SetCanvasRectangle(geo::CdRect const& rect)
{
    if (!IsFinite(rect))
        return false;
    detail::tCanvas& canvas = m_flow->state->canvas;
    canvas.rectangle = rect;
    canvas.rectangle.Normalize();
    canvas.hasRectangle = true;
    m_flow->state->messages->Notify(eChangeCanvas);
    return true;
}

void CDisplProcessFlow::GetCanvasColors(CCanvasColor& background, CCanvasColor& border) const
{
    background = m_flow->state->canvas.background;
    border = m_flow->state->canvas.border;
}

void CDisplProcessFlow::SetCanvasColors(CCanvasColor const& background, CCanvasColor const& border)
{
    m_flow->state->canvas.background = background;
    m_flow->state->canvas.border = border;
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetLayerCanvasPlacement(int plane, geo::CdVec2& origin, geo::CdVec2& scale) const
{
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !entry->hasPlacement)
        return false;
    origin = entry->placementOrigin;
    scale = entry->placementScale;
    return true;
}

bool CDisplProcessFlow::SetLayerCanvasPlacement(int plane, geo::CdVec2 const& origin, geo::CdVec2 const& scale)
{
    tEntry* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !IsFinite(origin) || !IsUsableScale(scale))
        return false;
    entry->hasPlacement = true;
    entry->placementOrigin = origin;
    entry->placementScale = scale;
    m_flow->state->messages->Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::OptimizeCanvasFromCalibration(std::vector<int> const& layerIds)
{
    tFlowState& state = *m_flow->state;
    detail::tCanvas fitted = state.canvas;
    if (!detail::FitCanvas(*m_flow, layerIds, fitted))
        return false;
    state.canvas = fitted;
    state.messages->Notify(eChangeCanvas);
    return true;
}

// ---------------------------------------------------------------- rendering and messages

bool CDisplProcessFlow::PlayToPixFrame(boost::shared_ptr<CPixFrame> target, geo::CiRect const& pixelRect,
                                       geo::CdRect const& canvasRect, int flags, std::vector<int> const& layerIds,
                                       tRenderHints const& hints) const
{
    (void)flags;  // reserved; callers pass 0
    try {
        return detail::Compose(*m_flow, target, pixelRect, canvasRect, layerIds, hints);
    } catch (std::exception const&) {
        return false;  // out of memory for tables or rows: nothing half-written is reported
    }
}

int CDisplProcessFlow::Subscribe(std::function<void(EChange)> callback) const
{
    return m_flow->state->messages->Subscribe(std::move(callback));
}

void CDisplProcessFlow::Unsubscribe(int subscription) const { m_flow->state->messages->Unsubscribe(subscription); }

boost::shared_ptr<void> CDisplProcessFlow::MuteMessaging() const
{
    return detail::CNotifier::Mute(m_flow->state->messages);
}

}  // namespace img
