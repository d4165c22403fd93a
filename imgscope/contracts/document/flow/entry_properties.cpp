#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/flow/flow_access_internal.h"

namespace img {

using detail::tEntry;
using detail::tFlowState;
using namespace detail::flow;

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
    const auto guard = detail::Changing(*m_flow->state->lock);
    return SetProperty(plane, -1, id, value);
}

bool CDisplProcessFlow::SetProperty(int plane, int channel, int id, mem::CBin const& value)
{
    const auto guard = detail::Changing(*m_flow->state->lock);
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
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId)
        return false;
    utl::CPropSet const* props = PropertiesOf(r, *entry, channel);
    return props && props->PropertyExists(id);
}

bool CDisplProcessFlow::GetProperty(int plane, int id, mem::CBin& value) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    return GetProperty(plane, -1, id, value);
}

bool CDisplProcessFlow::GetProperty(int plane, int channel, int id, mem::CBin& value) const
{
    const auto guard = detail::Reading(*m_flow->state->lock);
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId)
        return false;
    utl::CPropSet const* props = PropertiesOf(r, *entry, channel);
    return props && props->GetProperty(id, value);
}

bool CDisplProcessFlow::GetProperties(int plane, int channel, utl::CPropSet& props) const
{
    tResolve r{*m_flow, *m_flow->state};
    tEntry const* entry = r.state.Find(plane);
    if (!entry || plane == r.state.rootId)
        return false;
    utl::CPropSet const* found = PropertiesOf(r, *entry, channel);
    if (!found)
        return false;
    props = *found;
    return true;
}

}  // namespace img
