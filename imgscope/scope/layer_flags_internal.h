// Layer and group flags and the special list positions of the layer
// operations. Not installed.
#pragma once

namespace img {

// Layer flags as GetLayerFlags reports them and InsertLayer takes them.
constexpr int kFlagVisible = 0x001;
constexpr int kFlagNoEntry = 0x002;  // reported alone: the layer has no entry in the tree
constexpr int kFlagSelected = 0x008;
constexpr int kFlagMaskActive = 0x020;
constexpr int kFlagHidden = 0x040;
constexpr int kFlagXYFixed = 0x080;
constexpr int kFlagRaster = 0x100;
constexpr int kFlagVector = 0x200;

// Group flags of CreateGroup.
constexpr int kGroupVisible = 0x1;
constexpr int kGroupLocked = 0x2;
constexpr int kGroupSingular = 0x4;

// Special positions in the root's list.
constexpr int kPositionEnd = -3;
constexpr int kPositionStart = -2;

}  // namespace img
