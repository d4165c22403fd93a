// Frame index of a stack: one component per dimension beyond x and y.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"

namespace utl {

// A frame index; the same components as the geo::CiVecN it is built from.
class CIndexN : public geo::CiVecN {
public:
    CIndexN() = default;
    explicit CIndexN(geo::CiVecN const& v) : geo::CiVecN(v) {}
    CIndexN(std::initializer_list<int> values) : geo::CiVecN(values) {}

    geo::CiVecN const& AsVecN() const { return *this; }
};

}  // namespace utl
