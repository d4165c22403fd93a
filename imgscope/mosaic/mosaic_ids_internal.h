// The property IDs, type codes and names of the mosaic scope. Not installed.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/units.h"

namespace img {

// Stack property holding a layer's EStackType, an int, registered under the
// name "StackType" with type code int32 when the library is loaded.
constexpr int kPropStackType = 2074;
constexpr wchar_t kStackTypeName[] = L"StackType";
constexpr int kStackTypeCode = utl::eInt32;

// A magnification, a double (plain or with a unit): a group property of each
// magnification group, and searched for inside a layer's device set.
constexpr int kPropMagnification = 120060;
constexpr int kMagnificationCode = utl::eDouble;

// Signed 64-bit stack property ranking layers when a mosaic is opened; the
// larger wins. Written by acquisition software, never by us.
constexpr int kPropOpenRank = 2015;

// Document property: the display interval of mosaic layers, a
// utl::TInterval<double> (plain or with a unit).
constexpr int kPropDisplayInterval = 2003;

// Frame property of the position along a channel dimension (type 4); types
// 1 to 3 use the default value IDs of the scope core.
constexpr int kPropChannelDimValue = 2417;

// Fill value of a new data frame (void* to one pixel's bytes).
constexpr int kPropFillValue = mem::ePropFillValue;

// The profile section and keys of the two mosaic settings.
constexpr wchar_t kProfileSection[] = L"Mosaik";
constexpr wchar_t kProfileSyncMask[] = L"SyncMask";
constexpr wchar_t kProfileUseAlphaNoMask[] = L"UseAlphaNoMask";

}  // namespace img
