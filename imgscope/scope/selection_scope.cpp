#include "imgscope/scope/selection_scope.h"

namespace img {

CSelectionScope::CSelectionScope(CImg img, int, geo::CiVecN const&, geo::CiVecN const&) : CBaseScope(img) {}

CSelectionScope::~CSelectionScope() = default;

}  // namespace img
