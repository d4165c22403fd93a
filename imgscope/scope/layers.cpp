// CBaseScope: layers and groups of the scope's layer tree — creation,
// deletion, names, flags, selection, moving and listing.
#include "imgscope/scope/base_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/scope/layer_flags_internal.h"
#include "imgscope/scope/scope_data_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

#include <cstdlib>

namespace img {

namespace {

// A layer is listed when its flags lie wholly inside the mask.
bool WithinMask(int flags, int mask)
{
    return (flags & mask) == flags;
}

// ID 1 is handed out again whenever no stack holds it, so a document whose
// first layer was deleted starts over at 1; otherwise the document chooses.
int AddToDocument(CImg& document, CStack const& stack)
{
    if (!document.FindStack(1).IsValid())
        return document.Add(1, stack);
    return document.Add(stack);
}

}  // namespace

// ---------------------------------------------------------------- names and flags

bool CBaseScope::GetLayerName(int layer, CString& name) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        name = stack.GetName();
        return true;
    });
}

bool CBaseScope::SetLayerName(int layer, CString const& name)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.SetName(name);
        return true;
    });
}

bool CBaseScope::GetGroupName(int group, CString& name) const
{
    return Guarded(false, [&] {
        CString result;
        if (!renderer2D().GetGroupName(group, result))
            return false;
        name = result;
        return true;
    });
}

bool CBaseScope::SetGroupName(int group, CString const& name)
{
    return Guarded(false, [&] { return renderer2D().SetGroupName(group, name); });
}

bool CBaseScope::SetGroupVisible(int group, bool visible)
{
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        if (!flow.IsGroup(group))
            return false;
        flow.SetVisibility(group, visible);
        return true;
    });
}

bool CBaseScope::IsGroupVisible(int group, bool& visible) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        if (!flow.IsGroup(group))
            return false;
        visible = flow.IsVisible(group);
        return true;
    });
}

bool CBaseScope::SetGroupSingular(int group, bool singular)
{
    return Guarded(false, [&] { return renderer2D().SetGroupSingular(group, singular); });
}

bool CBaseScope::IsGroupSingular(int group, bool& singular) const
{
    return Guarded(false, [&] {
        bool result = false;
        if (!renderer2D().IsGroupSingular(group, result))
            return false;
        singular = result;
        return true;
    });
}

bool CBaseScope::LockGroup(int group, bool lock)
{
    return Guarded(false, [&] { return renderer2D().LockGroup(group, lock); });
}

bool CBaseScope::IsGroupLocked(int group, bool& locked) const
{
    return Guarded(false, [&] {
        bool result = false;
        if (!renderer2D().IsGroupLocked(group, result))
            return false;
        locked = result;
        return true;
    });
}

bool CBaseScope::IsOutsideGroup(int plane, bool& result) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        if (!flow.Exists(plane))
            return false;
        result = flow.IsGroup(plane);
        return true;
    });
}

bool CBaseScope::SetLayerVisible(int layer, bool visible)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        renderer2D().SetVisibility(plane, visible);
        return true;
    });
}

bool CBaseScope::IsLayerVisible(int layer, bool& visible) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        visible = renderer2D().IsVisible(plane);
        return true;
    });
}

bool CBaseScope::GetLayerFlags(int layer, int& flags) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane == -1) {
            flags = kFlagNoEntry;
            return true;
        }
        int result = 0;
        if (flow.IsVisible(plane))
            result |= kFlagVisible;
        if (flow.GetActiveStackID(stack.GetLayerType()) == layer)
            result |= kFlagSelected;
        if (flow.IsTransparencyMaskActive(plane))
            result |= kFlagMaskActive;
        if (flow.IsHidden(plane))
            result |= kFlagHidden;
        if (stack.GetXYFixed())
            result |= kFlagXYFixed;
        result |= flow.IsVectorGraficLayer(plane) ? kFlagVector : kFlagRaster;
        flags = result;
        return true;
    });
}

bool CBaseScope::IsLayerHidden(int layer, bool& hidden) const
{
    int flags = 0;
    if (!GetLayerFlags(layer, flags))
        return false;
    hidden = (flags & kFlagHidden) != 0;
    return true;
}

bool CBaseScope::GetGroupOf(int layer, int& group) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        group = renderer2D().GetParentGroup(plane);
        return true;
    });
}

bool CBaseScope::SetLayerXYFixed(int layer, bool fixed)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.SetXYFixed(fixed);
        return true;
    });
}

bool CBaseScope::IsLayerXYFixed(int layer, bool& fixed) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        fixed = stack.GetXYFixed();
        return true;
    });
}

// ---------------------------------------------------------------- selection

bool CBaseScope::SetSelectedLayer(int layer, bool maskActive)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        CDisplProcessFlow& flow = renderer2D();
        flow.SetActiveOpLayer(plane);
        flow.SetTransparencyMaskActive(plane, maskActive);
        return true;
    });
}

bool CBaseScope::GetSelectedLayer(ELayerType type, int& layer, bool& maskActive) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        const int plane = flow.GetActiveOpLayer(type);
        if (plane == -1)
            return false;
        const int id = flow.GetStackId(plane);
        const bool active = flow.IsTransparencyMaskActive(plane);
        layer = id;
        maskActive = active;
        return true;
    });
}

// ---------------------------------------------------------------- creation and deletion

bool CBaseScope::InsertLayer(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name,
                             int position, int flags, int options)
{
    const int id = Guarded(-1, [&] {
        CStack stack = (options & 1) != 0 ? CStack(frame, true) : CStack(frame);
        stack.SetName(name);
        return AddToDocument(GetCollection(), stack);
    });
    layer = id;
    if (id == -1)
        return false;
    if ((flags & ~kFlagNoEntry) == 0)
        return true;

    // From here on the layer is in the document: a tree that refuses the
    // entry or part of its display state leaves it there, still a success.
    return Guarded(true, [&] {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.InsertLayer(-1, position, id, utl::CIndexN(), -1);
        if (plane == -1)
            return true;
        flow.SetActiveFrameIndex(ResolveStack(id).FrameIndexBegin(0), plane);
        SetLayerXYFixed(id, (flags & kFlagXYFixed) != 0);
        SetLayerVisible(id, (flags & kFlagVisible) != 0);
        if ((flags & kFlagSelected) != 0)
            SetSelectedLayer(id, (flags & kFlagMaskActive) != 0);
        if ((flags & kFlagHidden) != 0)
            flow.SetHidden(plane, true);
        return true;
    });
}

bool CBaseScope::InsertLayer(int& layer, boost::shared_ptr<CVecGraph> graphic, CString const& name, int position,
                             int flags, int /*options*/)
{
    const int id = Guarded(-1, [&] {
        CStack stack(graphic);
        stack.SetName(name);
        return AddToDocument(GetCollection(), stack);
    });
    layer = id;
    if (id == -1)
        return false;
    if ((flags & ~kFlagNoEntry) == 0)
        return true;

    // Vector layers have no XY-fixing; visibility comes first so that the
    // entry is shown (or not) before it becomes the selected one.
    return Guarded(true, [&] {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.InsertLayer(-1, position, id, utl::CIndexN(), -1);
        if (plane == -1)
            return true;
        SetLayerVisible(id, (flags & kFlagVisible) != 0);
        flow.SetActiveFrameIndex(ResolveStack(id).FrameIndexBegin(0), plane);
        if ((flags & kFlagSelected) != 0)
            SetSelectedLayer(id, (flags & kFlagMaskActive) != 0);
        if ((flags & kFlagHidden) != 0)
            flow.SetHidden(plane, true);
        return true;
    });
}

bool CBaseScope::InsertLayerMasked(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name,
                                   int position, int flags, int options)
{
    if (!InsertLayer(layer, frame, name, position, flags, options))
        return false;
    return Guarded(false, [&] {
        // Without an entry (flags 0 or 0x002) there is no mask to fill; the
        // layer stays inserted and the caller learns of it by the result.
        boost::shared_ptr<CMask> mask = CreateTranspMask(layer, 0);
        if (!mask)
            return false;
        const geo::CiVecN size = frame->GetBoundary(0).Size();
        if (size.size() < 2)
            return false;
        const geo::CiRect rect(geo::CiVec2(size[0], size[1]));
        return mask->Rectangle(rect, 255, 0);
    });
}

int CBaseScope::CreateGroup(CString const& name, int before, int groupFlags)
{
    return Guarded(-1, [&] {
        CDisplProcessFlow& flow = renderer2D();
        int position = 0;
        if (flow.IsGroup(before)) {
            int found = 0;
            if (flow.GetParentGroup(before, found) != -1)
                position = found;
        }
        const int group = flow.InsertGroup(flow.RootId(), position);
        if (group == -1)
            return -1;
        flow.SetGroupName(group, name);
        flow.SetVisibility(group, (groupFlags & kGroupVisible) != 0);
        flow.LockGroup(group, (groupFlags & kGroupLocked) != 0);
        flow.SetGroupSingular(group, (groupFlags & kGroupSingular) != 0);
        return group;
    });
}

bool CBaseScope::DelLayer(int layer)
{
    // Resolved first so that a scope whose layer ID now names another stack
    // deletes nothing.
    if (!HasLayer(layer))
        return false;
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        if (plane != -1)
            flow.Remove(plane);
        return GetCollection().Remove(layer);
    });
}

bool CBaseScope::DelGroup(int group)
{
    // Groups resolve by the group path: a layer's plane or the root would
    // otherwise have its layers deleted by a call meant for a group.
    if (!IsPlaneExisting(group) || !renderer2D().IsGroup(group))
        return false;
    std::vector<int> members;
    if (!GetGroupMembers(group, members))
        return false;
    // The member stacks leave the document first; they go even when the
    // tree then refuses to remove the group.
    for (int member : members)
        DelLayer(member);
    return Guarded(false, [&] { return renderer2D().Remove(group); });
}

bool CBaseScope::HideLayer(int layer)
{
    if (!HasLayer(layer))
        return false;
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = flow.FindLayer(layer);
        return plane == -1 || flow.Remove(plane);
    });
}

bool CBaseScope::UnhideLayer(int layer, int position, int /*unused*/)
{
    if (!HasLayer(layer))
        return false;
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        if (flow.FindLayer(layer) != -1)
            return false;
        flow.InsertLayer(-1, position, layer, utl::CIndexN(), -1);
        return true;
    });
}

// ---------------------------------------------------------------- moving

bool CBaseScope::MoveLayer(int layer, int target, EGroupAffinity affinity)
{
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        int current = -1;
        const int parent = flow.GetParentGroup(plane, current);
        const int root = flow.RootId();

        int destParent = root;
        int destPosition = 0;
        if (target == kPositionEnd) {
            destPosition = flow.GetOpUnitCount(root);
        } else if (target == kPositionStart) {
            destPosition = 0;
        } else {
            const int targetPlane = FindPlaneID(target);
            if (targetPlane == -1)
                return false;
            int p = -1;
            const int targetParent = flow.GetParentGroup(targetPlane, p);
            if (affinity == eAffinityRoot) {
                // Into the root's list: beside a root-level target, else just
                // before the target's group.
                destParent = root;
                destPosition = targetParent == root ? p : flow.GetZOrder(targetParent);
            } else if (affinity == eAffinityDefault && p == 0) {
                // Dropping onto the first layer of a group means "just above
                // this group": the end of a group right before it, else the
                // root's list in front of the group.
                const int z = flow.GetZOrder(targetParent);
                if (z <= 0) {
                    destParent = targetParent;
                    destPosition = z;
                } else {
                    const int previous = flow.GetOpUnit(root, z - 1);
                    if (flow.IsGroup(previous)) {
                        destParent = previous;
                        destPosition = flow.GetOpUnitCount(previous);
                    } else {
                        destParent = root;
                        destPosition = z;
                    }
                }
            } else {
                destParent = targetParent;
                destPosition = p;
            }
        }

        // A move by at most one place within the same list is no move.
        if (destParent == parent && std::abs(destPosition - current) <= 1)
            return true;
        return flow.MoveTo(plane, destParent, destPosition);
    });
}

bool CBaseScope::AppendToGroup(int layer, int group)
{
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        if (!flow.IsGroup(group))
            return false;
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        const int count = flow.GetOpUnitCount(group);
        int current = -1;
        if (flow.GetParentGroup(plane, current) == group && std::abs(count - current) <= 1)
            return false;
        return flow.MoveTo(plane, group, count);
    });
}

bool CBaseScope::PrependToGroup(int layer, int group)
{
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        if (!flow.IsGroup(group))
            return false;
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        int current = -1;
        if (flow.GetParentGroup(plane, current) == group && current == 0)
            return false;
        return flow.MoveTo(plane, group, 0);
    });
}

bool CBaseScope::MoveGroup(int group, int target)
{
    std::vector<int> units;
    if (!GetGroups(units))
        return false;
    if (group == target || units.size() < 2)
        return false;
    int position = 0;
    if (target == kPositionStart) {
        position = 0;
    } else if (target == kPositionEnd) {
        position = static_cast<int>(units.size());
    } else {
        position = -1;
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (units[i] == target) {
                position = static_cast<int>(i);
                break;
            }
        }
        if (position == -1)
            return false;
    }
    return Guarded(false, [&] {
        CDisplProcessFlow& flow = renderer2D();
        return flow.MoveTo(group, flow.RootId(), position);
    });
}

// ---------------------------------------------------------------- listing

bool CBaseScope::GetGroups(std::vector<int>& units) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        const int root = flow.RootId();
        const int count = flow.GetOpUnitCount(root);
        std::vector<int> result;
        result.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
        for (int i = 0; i < count; ++i)
            result.push_back(flow.GetOpUnit(root, i));
        units.swap(result);
        return true;
    });
}

bool CBaseScope::GetGroupMembers(int unit, std::vector<int>& layers) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        if (!flow.Exists(unit))
            return false;
        std::vector<int> result;
        if (flow.IsGroup(unit)) {
            const int count = flow.GetOpUnitCount(unit);
            for (int i = 0; i < count; ++i) {
                const int id = flow.GetStackId(flow.GetOpUnit(unit, i));
                if (id != -1)
                    result.push_back(id);
            }
        } else {
            const int id = flow.GetStackId(unit);
            if (id != -1)
                result.push_back(id);
        }
        layers.swap(result);
        return true;
    });
}

bool CBaseScope::AppendGroupLayers(int group, int mask, std::vector<int>& layers) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        if (!flow.IsGroup(group))
            return false;
        // Collected apart so that a failure midway appends nothing.
        std::vector<int> found;
        const int count = flow.GetOpUnitCount(group);
        for (int i = 0; i < count; ++i) {
            const int id = flow.GetStackId(flow.GetOpUnit(group, i));
            int flags = 0;
            if (GetLayerFlags(id, flags) && WithinMask(flags, mask))
                found.push_back(id);
        }
        layers.insert(layers.end(), found.begin(), found.end());
        return true;
    });
}

bool CBaseScope::GetLayers(std::vector<int>& layers, int mask) const
{
    return Guarded(false, [&] {
        CDisplProcessFlow const& flow = renderer2D();
        const int root = flow.RootId();
        const int count = flow.GetOpUnitCount(root);
        std::vector<int> result;
        for (int i = 0; i < count; ++i) {
            const int unit = flow.GetOpUnit(root, i);
            if (flow.IsGroup(unit)) {
                AppendGroupLayers(unit, mask, result);
                continue;
            }
            const int id = flow.GetStackId(unit);
            int flags = 0;
            if (GetLayerFlags(id, flags) && WithinMask(flags, mask))
                result.push_back(id);
        }
        layers.swap(result);
        return true;
    });
}

}  // namespace img
