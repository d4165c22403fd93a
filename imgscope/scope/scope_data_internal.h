// The private record of a scope. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"

namespace img {

// One scope's document handle and its own layer tree. Members are destroyed
// in reverse order: the tree first, then the document handle.
class CScopeData {
public:
    explicit CScopeData(CImg const& img) : document(img), flow(img, false) {}

    bool ready = false;  // set by the first preparation; never cleared
    CImg document;
    CDisplProcessFlow flow;  // the scope's renderer2D
};

}  // namespace img
