// Settings of the application profile and display names of dimensions.
#pragma once

#include "imgscope/contracts/foundation/phys_dim.h"
#include "imgscope/contracts/platform/string.h"
#include "imgscope/library/export.h"

// Reads an integer from the profile: an INI file at $IMGSCOPE_PROFILE, else
// $XDG_CONFIG_HOME/imgscope/profile.ini (~/.config when XDG_CONFIG_HOME is
// unset or relative). Section and key names ignore ASCII case; the first
// matching key counts. A value may carry an inline comment (" ; …") and
// surrounding double quotes. A missing file, section or key, a null name, or
// a value that is not a whole decimal integer in the int range gives
// `defaultValue`, and so does a path that is not a regular file of at most
// 1 MiB; lines longer than 4096 bytes are skipped. `scope` and `flags` select the profile layer; only 3
// (user, then machine) with flags 0 is served, so other values are accepted
// and read the same file.
IMGSCOPE_API int appGetProfileInt(wchar_t const* section, wchar_t const* key, int defaultValue,
                                  int scope, int flags);

// Display name of a physical dimension type; `reserved` is for a resource
// module and is ignored. Unknown types give "Dimension <n>".
IMGSCOPE_API CString imgGetDimName(img::EPhysDim type, void const* reserved);
