// Properties at the document, stack, frame and group levels, blobs, and the
// device property set.
#include "imgscope/scope/base_scope.h"

#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_data_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

#include <boost/make_shared.hpp>

namespace img {

namespace {

// Writes the properties of `props` one by one, in ID order, through `write`.
// Stops at the first refused write: earlier writes stay, later ones are not
// tried, so the caller learns that the set was applied only in part.
template <class W>
bool MergeInto(utl::CPropSet const& props, W&& write)
{
    for (int id : props.GetPropertyList()) {
        mem::CBin value;
        props.GetProperty(id, value);
        if (!write(id, value))
            return false;
    }
    return true;
}

// The address (layer, frame index…) split into its layer ID and the rest.
geo::CiVecN AddressRest(geo::CiVecN const& address)
{
    return geo::CiVecN(std::vector<int>(address.begin() + 1, address.end()));
}

boost::shared_ptr<utl::CPropSet> ReadDeviceSet(CStack const& stack, utl::CIndexN const* index)
{
    mem::CBin bin;
    bool const found = index ? stack.GetProperty(*index, kPropDeviceSet, bin)
                             : stack.GetProperty(kPropDeviceSet, bin);
    if (!found)
        return boost::shared_ptr<utl::CPropSet>();
    return bin.GetOr(boost::shared_ptr<utl::CPropSet>());
}

}  // namespace

// ---------------------------------------------------------------------------
// Document level

bool CBaseScope::SetProperty(int id, mem::CBin const& value)
{
    return Guarded(false, [&] { return Prepared().document.SetProperty(id, value); });
}

bool CBaseScope::PropertyExists(int id) const
{
    return Guarded(false, [&] { return Prepared().document.PropertyExists(id); });
}

bool CBaseScope::GetProperties(utl::CPropSet& props) const
{
    return Guarded(false, [&] {
        // The document decides what becomes of the set it is given; the
        // caller's set changes only when it reports success.
        utl::CPropSet result(props);
        if (!Prepared().document.GetProperties(result))
            return false;
        props = std::move(result);
        return true;
    });
}

bool CBaseScope::SetProperties(utl::CPropSet const& props)
{
    return MergeInto(props, [&](int id, mem::CBin const& value) { return SetProperty(id, value); });
}

// ---------------------------------------------------------------------------
// Stack level

bool CBaseScope::SetProperty(int layer, int id, mem::CBin const& value)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && stack.SetProperty(id, value);
    });
}

bool CBaseScope::PropertyExists(int layer, int id) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && stack.PropertyExists(id);
    });
}

bool CBaseScope::GetProperties(int layer, utl::CPropSet& props) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        props = stack.GetPropset();
        return true;
    });
}

bool CBaseScope::SetProperties(int layer, utl::CPropSet const& props)
{
    return MergeInto(props, [&](int id, mem::CBin const& value) { return SetProperty(layer, id, value); });
}

// ---------------------------------------------------------------------------
// Frame level; an empty index addresses the stack for Set and Exists

bool CBaseScope::SetProperty(int layer, geo::CiVecN const& index, int id, mem::CBin const& value)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        if (index.empty())
            return stack.SetProperty(id, value);
        return stack.SetProperty(utl::CIndexN(index), id, value);
    });
}

bool CBaseScope::PropertyExists(int layer, geo::CiVecN const& index, int id) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        if (index.empty())
            return stack.PropertyExists(id);
        return stack.PropertyExists(utl::CIndexN(index), id);
    });
}

bool CBaseScope::GetProperties(int layer, geo::CiVecN const& index, utl::CPropSet& props) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        // The empty index goes to the stack as it is: reading frame-level
        // properties there is the stack's own affair.
        utl::CPropSet result(props);
        if (!stack.GetProperties(utl::CIndexN(index), result))
            return false;
        props = std::move(result);
        return true;
    });
}

bool CBaseScope::SetProperties(int layer, geo::CiVecN const& index, utl::CPropSet const& props)
{
    return MergeInto(props, [&](int id, mem::CBin const& value) { return SetProperty(layer, index, id, value); });
}

// ---------------------------------------------------------------------------
// Address form: () document, (layer) stack, (layer, index…) frame

bool CBaseScope::SetProperty(geo::CiVecN const& address, int id, mem::CBin const& value)
{
    if (address.empty())
        return SetProperty(id, value);
    return SetProperty(address[0], AddressRest(address), id, value);
}

bool CBaseScope::PropertyExists(geo::CiVecN const& address, int id) const
{
    if (address.empty())
        return PropertyExists(id);
    return PropertyExists(address[0], AddressRest(address), id);
}

bool CBaseScope::SetProperties(geo::CiVecN const& address, utl::CPropSet const& props)
{
    return MergeInto(props, [&](int id, mem::CBin const& value) { return SetProperty(address, id, value); });
}

// ---------------------------------------------------------------------------
// Group level

bool CBaseScope::SetGroupProperty(int group, int id, mem::CBin const& value)
{
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        return flow.IsGroup(group) && flow.SetProperty(group, -1, id, value);
    });
}

bool CBaseScope::GroupPropertyExists(int group, int id) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        return flow.IsGroup(group) && flow.PropertyExists(group, -1, id);
    });
}

// ---------------------------------------------------------------------------
// Blobs

bool CBaseScope::SetBlob(int layer, int blob, mem::CBin const& value)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && stack.SetBlob(value, blob);
    });
}

bool CBaseScope::GetBlob(int layer, int blob, mem::CBin& value) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        mem::CBin result;
        if (!stack.GetBlob(result, blob))
            return false;
        value = std::move(result);
        return true;
    });
}

bool CBaseScope::DelBlob(int layer, int blob)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        // Deleting a blob that is not there leaves the wanted state; only an
        // unknown layer counts as failure.
        stack.DelBlob(blob);
        return true;
    });
}

bool CBaseScope::HasBlob(int layer, int blob) const
{
    mem::CBin value;
    return GetBlob(layer, blob, value);
}

// ---------------------------------------------------------------------------
// Device properties

bool CBaseScope::SetDeviceProperties(int layer, geo::CiVecN const& index, utl::CPropSet const& props)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        // A copy, so that later changes to the caller's set do not reach the
        // stored one through the shared pointer.
        mem::CBin const value(boost::make_shared<utl::CPropSet>(props));
        if (index.empty())
            return stack.SetProperty(kPropDeviceSet, value);
        return stack.SetProperty(utl::CIndexN(index), kPropDeviceSet, value);
    });
}

bool CBaseScope::GetDeviceProperties(int layer, geo::CiVecN const& index, utl::CPropSet& props) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        utl::CIndexN const frame(index);
        if (!stack.PropertyExists(frame, kPropDeviceSet) && !stack.PropertyExists(kPropDeviceSet))
            return false;
        // The stack-level set applies to every frame; the frame's own set is
        // merged over it.
        utl::CPropSet result(props);
        if (auto const stackSet = ReadDeviceSet(stack, nullptr))
            result = *stackSet;
        if (auto const frameSet = ReadDeviceSet(stack, &frame))
            result.MergeProperties(*frameSet);
        props = std::move(result);
        return true;
    });
}

}  // namespace img
