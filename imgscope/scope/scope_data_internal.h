// The private record of a scope. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"

#include <cstdint>

namespace img {

// One scope's document handle and its own layer tree. Members are destroyed
// in reverse order: the tree first, then the document handle.
class CScopeData {
public:
    explicit CScopeData(CImg const& img) : document(img), flow(img, false) {}

    bool ready = false;  // set by the first preparation; never cleared
    CImg document;
    CDisplProcessFlow flow;  // the scope's renderer2D
    // The layer the scope was bound to and the stack it named then
    // (CStack::GetInstanceId); the ID resolves only while it names that stack.
    int boundLayer = -1;
    std::uint64_t boundStack = 0;
};

}  // namespace img
