#include "imgscope/library/version.h"

namespace img {

const char* GetLibraryVersion()
{
    return IMGSCOPE_VERSION_STRING;
}

}  // namespace img
