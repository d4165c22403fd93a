// CBaseScope: the physical meaning and metadata of a layer's dimensions,
// kept as dimension properties of its stack.
#include "imgscope/scope/base_scope.h"

#include "imgscope/contracts/platform/profile.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

namespace img {

namespace {

// IDs supplied for the physical types that have them; 0 for none.
struct tDefaultIds {
    int value = 0;
    int firstStep = 0;
    int secondStep = 0;
};

tDefaultIds DefaultIds(int type)
{
    switch (type) {
    case eDimZ: return {kPropZValue, kPropZFirstStep, kPropZSecondStep};
    case eDimTime: return {kPropTimeValue, kPropTimeFirstStep, kPropTimeSecondStep};
    case eDimLambda: return {kPropLambdaValue, kPropLambdaFirstStep, kPropLambdaSecondStep};
    default: return {};
    }
}

// The stack when it is valid and `dim` lies in 0..DimCount(0), both ends
// included: the dimension past the last frame-index component is
// addressable too. An invalid stack otherwise.
CStack DimensionStack(CStack stack, int dim)
{
    if (!stack.IsValid() || dim < 0 || dim > stack.DimCount(0))
        return CStack();
    return stack;
}

// Reads a property that holds an ID or a type. False when it cannot be
// read; `out` is left alone when it holds no integer.
bool ReadInt(CStack const& stack, int dim, int id, int& out)
{
    mem::CBin bin;
    if (!stack.GetDimProperty(dim, id, bin))
        return false;
    bin.GetPlainOrUnit(out);
    return true;
}

bool WriteInt(CStack& stack, int dim, int id, int value)
{
    return stack.SetDimProperty(dim, id, mem::CBin(value));
}

// The IDs held by the two stepping entries, each 0 when its entry holds no
// integer. False, with both untouched, unless both entries exist.
bool ReadStepIds(CStack const& stack, int dim, int& firstId, int& secondId)
{
    if (!stack.DimPropertyExists(dim, kPropDimFirstStepId) || !stack.DimPropertyExists(dim, kPropDimSecondStepId))
        return false;
    ReadInt(stack, dim, kPropDimFirstStepId, firstId);
    ReadInt(stack, dim, kPropDimSecondStepId, secondId);
    return true;
}

// Reads a unit value; `value` keeps what it held when the property is
// missing or holds another type.
void ReadUnitValue(CStack const& stack, int dim, int id, utl::TUnitValue<double>& value)
{
    mem::CBin bin;
    if (stack.GetDimProperty(dim, id, bin))
        bin.Get(value);
}

// The ID of the property holding each channel's value. Unlike ReadInt, an
// entry that holds no integer names no property at all and fails.
bool ReadValueId(CStack const& stack, int dim, int& id)
{
    mem::CBin bin;
    return stack.GetDimProperty(dim, kPropDimValueId, bin) && bin.GetPlainOrUnit(id);
}

}  // namespace

bool CBaseScope::GetDimensionType(int layer, int dim, EPhysDim& type) const
{
    return Guarded(false, [&] {
        const CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;
        int value = type;
        if (!ReadInt(stack, dim, kPropDimType, value))
            return false;
        type = static_cast<EPhysDim>(value);
        return true;
    });
}

bool CBaseScope::SetDimensionType(int layer, int dim, EPhysDim type, int valueId)
{
    return Guarded(false, [&] {
        CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;
        if (!WriteInt(stack, dim, kPropDimType, type))
            return false;
        // 0 asks for the type's own value property; a negative ID keeps the
        // stored one, so a caller can retype a dimension without losing it.
        const int id = valueId > 0 ? valueId : (valueId == 0 ? DefaultIds(type).value : 0);
        if (id != 0)
            WriteInt(stack, dim, kPropDimValueId, id);
        return true;
    });
}

bool CBaseScope::GetDimensionName(int layer, int dim, CString& name) const
{
    EPhysDim type = eDimNone;
    if (!GetDimensionType(layer, dim, type))
        return false;
    name = imgGetDimName(type, nullptr);
    return true;
}

bool CBaseScope::GetDimensionStepping(int layer, int dim, utl::TUnitValue<double>& first,
                                      utl::TUnitValue<double>& second) const
{
    return Guarded(false, [&] {
        const CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;
        int firstId = 0;
        int secondId = 0;
        if (!ReadStepIds(stack, dim, firstId, secondId))
            return false;
        if (!stack.DimPropertyExists(dim, firstId) || !stack.DimPropertyExists(dim, secondId))
            return false;

        utl::TUnitValue<double> a = first;
        utl::TUnitValue<double> b = second;
        ReadUnitValue(stack, dim, firstId, a);
        ReadUnitValue(stack, dim, secondId, b);
        first = a;
        second = b;
        return true;
    });
}

bool CBaseScope::SetDimensionStepping(int layer, int dim, utl::TUnitValue<double> const& first,
                                      utl::TUnitValue<double> const& second)
{
    return Guarded(false, [&] {
        CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;

        int firstId = 0;
        int secondId = 0;
        if (ReadStepIds(stack, dim, firstId, secondId)) {
            // Stored IDs win over the type's defaults, even after a retype,
            // so values stay where readers already look for them.
            if (firstId == 0 || secondId == 0)
                return false;
        } else {
            EPhysDim type = eDimNone;
            if (!GetDimensionType(layer, dim, type))
                return false;
            const tDefaultIds ids = DefaultIds(type);
            if (ids.firstStep == 0)
                return false;
            firstId = ids.firstStep;
            secondId = ids.secondStep;
        }

        return WriteInt(stack, dim, kPropDimFirstStepId, firstId) &&
               WriteInt(stack, dim, kPropDimSecondStepId, secondId) && stack.SetDimProperty(dim, firstId, mem::CBin(first)) &&
               stack.SetDimProperty(dim, secondId, mem::CBin(second));
    });
}

bool CBaseScope::GetDimensionFrameRate(int layer, int dim, utl::TUnitValue<double>& rate, bool variant) const
{
    return Guarded(false, [&] {
        const CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;
        const int id = variant ? kPropDimFrameRateVariant : kPropDimFrameRate;
        if (!stack.DimPropertyExists(dim, id))
            return false;
        utl::TUnitValue<double> value = rate;
        ReadUnitValue(stack, dim, id, value);
        rate = value;
        return true;
    });
}

bool CBaseScope::SetDimensionFrameRate(int layer, int dim, utl::TUnitValue<double> const& rate, bool variant)
{
    return Guarded(false, [&] {
        CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;
        stack.SetDimProperty(dim, variant ? kPropDimFrameRateVariant : kPropDimFrameRate, mem::CBin(rate));
        return true;
    });
}

bool CBaseScope::GetDimensionChannelValue(int layer, int dim, int channel, utl::TUnitValue<double>& value) const
{
    return Guarded(false, [&] {
        const CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;
        int id = 0;
        if (!ReadValueId(stack, dim, id))
            return false;
        // The value property must exist for the dimension as a whole, not
        // only for some channels: that is what marks it as set up.
        if (!stack.DimPropertyExists(dim, id))
            return false;
        mem::CBin bin;
        if (!stack.GetDimProperty(dim, channel, id, bin))
            return false;
        utl::TUnitValue<double> result = value;
        bin.Get(result);
        value = result;
        return true;
    });
}

bool CBaseScope::SetDimensionChannelValue(int layer, int dim, int channel, utl::TUnitValue<double> const& value)
{
    return Guarded(false, [&] {
        CStack stack = DimensionStack(ResolveStack(layer), dim);
        if (!stack.IsValid())
            return false;
        int id = 0;
        return ReadValueId(stack, dim, id) && stack.SetDimProperty(dim, channel, id, mem::CBin(value));
    });
}

}  // namespace img
