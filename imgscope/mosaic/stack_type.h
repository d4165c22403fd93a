// The roles of the layers of a mosaic image, as kept in each layer's
// "StackType" property.
#pragma once

namespace img {

// A layer's role in a mosaic. Values are stored as plain ints, so a caller
// may write any other number; such layers simply match no role below.
enum EStackType : int {
    eStackPicture = 0,      // picture layer of one magnification
    eStackOverview = 1,     // named "Overview", first in the root's list
    eStackSampleMask = 2,   // one 8-bit component; non-zero marks sample
    eStackFocusMap = 4,     // focus positions mapped to 0..255
    eStackSharpness = 8,    // sharpness map of a picture layer
    eStackPicture2 = 32,    // further picture layers
    eStackPicture3 = 64,
    eStackLabel = 256,      // named "Label"
};

}  // namespace img
