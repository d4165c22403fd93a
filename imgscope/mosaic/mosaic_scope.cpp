// CMosaikScope: construction, layers by role, magnification texts and the
// magnification groups.
#include "imgscope/mosaic/mosaic_scope.h"

#include "imgscope/contracts/platform/win_compat.h"
#include "imgscope/mosaic/mosaic_ids_internal.h"
#include "imgscope/scope/layer_flags_internal.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/typed/picture.h"

#include <cfloat>
#include <cstdint>
#include <new>

namespace img {

namespace {

bool IsPictureType(int type)
{
    return type == eStackPicture || type == eStackPicture2 || type == eStackPicture3;
}

// A stack's opening rank: property 2015 as a signed 64-bit number, plain or
// with a unit; 0 when missing or of another type.
std::int64_t OpenRank(CStack const& stack)
{
    mem::CBin value;
    if (!stack.GetProperty(kPropOpenRank, value))
        return 0;
    return value.GetPlainOrUnitOr<std::int64_t>(0);
}

int StoredStackType(CStack const& stack, int missing)
{
    mem::CBin value;
    if (!stack.GetProperty(kPropStackType, value))
        return missing;
    return value.GetOr<int>(missing);
}

}  // namespace

CMosaikScope::CMosaikScope() : CBaseScope(CImg()) {}

CMosaikScope::CMosaikScope(CImg const& img) : CBaseScope(img)
{
    // Ranks of 0 and below never win: the best ranks start at 0 and only a
    // strictly greater rank replaces them, so ties keep the first stack.
    std::int64_t bestPicture = 0;
    std::int64_t bestFocus = 0;
    for (int id = img.FirstStackId(); id != -1; id = img.NextStackId(id)) {
        const CStack stack = img.FindStack(id);
        const std::int64_t rank = OpenRank(stack);
        const int type = StoredStackType(stack, -1);
        if (IsPictureType(type)) {
            if (rank > bestPicture) {
                bestPicture = rank;
                m_nActiveLayerId = id;
            }
        } else if (type == eStackFocusMap) {
            if (rank > bestFocus) {
                bestFocus = rank;
                m_nFocusLayerId = id;
            }
        }
    }
}

CMosaikScope::~CMosaikScope() = default;

CMosaikScope* CreateMosaikImage()
{
    // The new document and the scope's record are allocated inside the
    // constructors: running out of memory there is a null result too.
    try {
        return new CMosaikScope();
    } catch (std::bad_alloc const&) {
        return nullptr;
    }
}

CMosaikScope* CreateMosaikImage(CImg* img)
{
    if (!img)
        return CreateMosaikImage();
    return new (std::nothrow) CMosaikScope(*img);
}

// ---------------------------------------------------------------- layers by role

int CMosaikScope::FindLayerByType(EStackType t) const
{
    std::vector<int> layers;
    if (!GetLayers(layers, -1))
        return -1;
    CImg const& document = GetCollection();
    for (int id : layers) {
        // A value of another type reads as the wanted role: the role is the
        // default of the read.
        mem::CBin value;
        if (document.FindStack(id).GetProperty(kPropStackType, value) && value.GetOr<int>(t) == t)
            return id;
    }
    return -1;
}

bool CMosaikScope::HasLayerType(EStackType t) const
{
    return FindLayerByType(t) != -1;
}

boost::shared_ptr<CPicture> CMosaikScope::GetLayerByType(EStackType t) const
{
    const int id = FindLayerByType(t);
    if (id == -1)
        return {};
    CImg document = GetCollection();
    return boost::shared_ptr<CPicture>(CreatePicture(document, id, geo::CiVecN()));
}

bool CMosaikScope::RemoveLayerByType(EStackType t)
{
    const int id = FindLayerByType(t);
    return id != -1 && DelLayer(id);
}

bool CMosaikScope::HasOverview() const { return HasLayerType(eStackOverview); }
bool CMosaikScope::HasLabel() const { return HasLayerType(eStackLabel); }
bool CMosaikScope::HasSampleMask() const { return HasLayerType(eStackSampleMask); }
boost::shared_ptr<CPicture> CMosaikScope::GetOverview() const { return GetLayerByType(eStackOverview); }
boost::shared_ptr<CPicture> CMosaikScope::GetLabel() const { return GetLayerByType(eStackLabel); }
boost::shared_ptr<CPicture> CMosaikScope::GetSampleMask() const { return GetLayerByType(eStackSampleMask); }

boost::shared_ptr<CPicture> CMosaikScope::GetActivePicture() const
{
    CImg document = GetCollection();
    return boost::shared_ptr<CPicture>(CreatePicture(document, m_nActiveLayerId, geo::CiVecN()));
}

int CMosaikScope::GetActiveLayerID()
{
    return m_nActiveLayerId;
}

unsigned int CMosaikScope::GetLayerCount() const
{
    return Guarded(0u, [&] { return GetCollection().GetStackCount(); });
}

int CMosaikScope::GetVisibleLayerCount() const
{
    // Every flag but "no entry" and "hidden": visible or not, shown in the tree.
    std::vector<int> layers;
    if (!GetLayers(layers, ~(kFlagNoEntry | kFlagHidden)))
        return 0;
    return static_cast<int>(layers.size());
}

// ---------------------------------------------------------------- magnification

double CMosaikScope::GetLayerMagnification(int layer) const
{
    return Guarded(0.0, [&] {
        const CStack stack = GetCollection().FindStack(layer);
        if (!stack.IsValid())
            return 0.0;
        mem::CBin value;
        boost::shared_ptr<utl::CPropSet> device;
        if (!stack.GetProperty(kPropDeviceSet, value) || !value.Get(device) || !device)
            return 0.0;
        mem::CBin found;
        if (!device->SearchProperty(kPropMagnification, kMagnificationCode, found))
            return 0.0;
        return found.GetPlainOrUnitOr(0.0);
    });
}

void CMosaikScope::GetMagnificationString(double m, CString& out) const
{
    // The decimals follow the magnification rounded to hundredths, but the
    // text shows m itself: 1.999 rounds to 200 and prints as "2x".
    const int r = matRoundD(m * 100.0);
    if (r % 100 == 0)
        out.Format(L"%.0lfx", m);
    else if (r % 10 == 0)
        out.Format(L"%.1lfx", m);
    else
        out.Format(L"%.2lfx", m);
}

// ---------------------------------------------------------------- groups

double CMosaikScope::UnitMagnification(CDisplProcessFlow const& flow, int unit) const
{
    if (!flow.IsGroup(unit))
        return 0.0;
    mem::CBin value;
    if (!flow.GetProperty(unit, -1, kPropMagnification, value))
        return 0.0;
    return value.GetPlainOrUnitOr(0.0);
}

int CMosaikScope::GetGroup(double m, CString name)
{
    std::vector<int> units;
    if (GetGroups(units)) {
        // A view onto the document's own tree, the one every scope of the
        // document works on: the scope core offers no group-property reader.
        const CDisplProcessFlow flow(GetCollection(), false);
        for (int unit : units)
            if (UnitMagnification(flow, unit) == m && unit >= 0)
                return unit;
    }
    const int group = CreateGroup(name, -1, kGroupVisible);
    SetGroupProperty(group, kPropMagnification, mem::CBin(m));
    SortGroups();
    return group;
}

bool CMosaikScope::SortGroups()
{
    std::vector<int> units;
    if (!GetGroups(units))
        return true;
    const CDisplProcessFlow flow(GetCollection(), false);
    std::vector<double> magnifications;
    magnifications.reserve(units.size());
    for (int unit : units)
        magnifications.push_back(UnitMagnification(flow, unit));

    // Selection by the smallest magnification, each pick moved to the start:
    // the root ends in decreasing magnification. Infinite and NaN
    // magnifications never compare below the largest finite double; they
    // are taken last, from the end of the list, so they end first in their
    // former order, and the loop always ends.
    while (!units.empty()) {
        std::size_t pick = units.size() - 1;
        double best = DBL_MAX;
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (magnifications[i] < best) {
                best = magnifications[i];
                pick = i;
            }
        }
        const int unit = units[pick];
        units.erase(units.begin() + static_cast<std::ptrdiff_t>(pick));
        magnifications.erase(magnifications.begin() + static_cast<std::ptrdiff_t>(pick));
        MoveGroup(unit, kPositionStart);
    }
    return true;
}

}  // namespace img
