// Physical types of stack dimensions.
#pragma once

namespace img {

// What a dimension of a stack measures. 6 and 7 are the axes of the image
// plane; 4 is the channel dimension.
enum EPhysDim : int {
    eDimNone = 0,
    eDimZ = 1,
    eDimTime = 2,
    eDimLambda = 3,
    eDimChannel = 4,
    eDimOther = 5,
    eDimX = 6,
    eDimY = 7,
    eDimBlock = 8,
    eDimPhase = 9,
    eDimAngle = 10,
};

}  // namespace img
