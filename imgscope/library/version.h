// Version of the imgscope library the caller is linked against.
#pragma once

#include "imgscope/library/export.h"

namespace img {

// "major.minor.patch" of the loaded library, for logs and about boxes.
IMGSCOPE_API const char* GetLibraryVersion();

}  // namespace img
