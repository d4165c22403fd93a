// The property IDs the scopes read or write, in one table. Not installed.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/phys_dim.h"

namespace img {

// ---------------------------------------------------------------------------
// Per-plane properties of a layer's entry in the layer tree

// Presence marks a layer whose canvas placement is stored state of its own:
// recalibrating the image rewrites its placement only when both exist. Their
// values are never read.
constexpr int kPropPlacementMarkA = 2006;
constexpr int kPropPlacementMarkB = 2007;
// The entry's opacity, a plain double written by SetOpacity.
constexpr int kPropOpacity = 10009;
// The frame the entry shows, a utl::CIndexN.
constexpr int kPropActiveFrame = 10014;

// ---------------------------------------------------------------------------
// Stack and frame properties

// A copy of a device property set, a shared_ptr<utl::CPropSet>; the frame's
// set adds to the stack's.
constexpr int kPropDeviceSet = 10048;
// The layer name (CString) in the creation set of a stack scope's new layer.
constexpr int kPropLayerName = 2030;

// ---------------------------------------------------------------------------
// Dimension properties of a stack. The stepping and channel-value entries
// hold the ID of the property that holds the value, so a caller may
// redirect them.

// The physical type of the dimension, an int holding an EPhysDim.
constexpr int kPropDimType = 2023;
// The IDs of the properties holding the first and second stepping value.
constexpr int kPropDimFirstStepId = 2025;
constexpr int kPropDimSecondStepId = 2026;
// The ID of the property holding each channel's value along the dimension.
constexpr int kPropDimValueId = 2027;
// Frame rates, utl::TUnitValue<double>: the plain one and the variant.
constexpr int kPropDimFrameRate = 10019;
constexpr int kPropDimFrameRateVariant = 10069;

// Default value and stepping IDs of the dimension types that have them. A
// value ID also names the frame property holding each frame's position
// along a dimension of that type.
constexpr int kPropZValue = 2014;
constexpr int kPropZFirstStep = 2012;
constexpr int kPropZSecondStep = 2013;
constexpr int kPropTimeValue = 2017;
constexpr int kPropTimeFirstStep = 2100;
constexpr int kPropTimeSecondStep = 2016;
constexpr int kPropLambdaValue = 2041;
constexpr int kPropLambdaFirstStep = 2039;
constexpr int kPropLambdaSecondStep = 2040;

// ---------------------------------------------------------------------------
// Data-frame creation properties, as the data frame defines them

constexpr int kPropTileSize = mem::ePropTileSize;
constexpr int kPropMemoryModel = mem::ePropMemoryModel;
constexpr int kPropAlign = mem::ePropAlign;
constexpr int kPropGrowDimension = mem::ePropGrowDimension;
constexpr int kPropMemoryBudget = mem::ePropMemoryBudget;
constexpr int kPropCommitAtCreation = mem::ePropCommitAtCreation;

// ---------------------------------------------------------------------------
// Frame values along a dimension

// The frame property holding each frame's position along a channel
// dimension (type 4); the other types use their default value IDs above.
constexpr int kPropChannelValue = 2417;

// The frame property holding a frame's value along a dimension of physical
// type `type`, or -1 for a type without one. Only the N-D stack reads
// channel positions; a simple stack over a channel dimension has none.
constexpr int FrameValuePropertyId(int type, bool withChannel)
{
    switch (type) {
    case eDimZ: return kPropZValue;
    case eDimTime: return kPropTimeValue;
    case eDimLambda: return kPropLambdaValue;
    case eDimChannel: return withChannel ? kPropChannelValue : -1;
    default: return -1;
    }
}

}  // namespace img
