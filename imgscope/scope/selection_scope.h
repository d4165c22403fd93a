// The selection scope: a scope bound to whichever layer is selected in its
// layer tree, looked up anew at every call.
#pragma once

#include "imgscope/scope/base_scope.h"

namespace img {

class IMGSCOPE_API CSelectionScope : public CBaseScope {
public:
    ~CSelectionScope() override;

protected:
    // Neither the int nor the two vectors have any effect; the constructor
    // looks nothing up and so cannot fail for an identifier.
    CSelectionScope(CImg img, int, geo::CiVecN const&, geo::CiVecN const&);

private:
    friend class CBaseScope;
};

}  // namespace img
