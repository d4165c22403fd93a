// The factory convention of the scopes that catch everything: a scope, or
// null when its construction throws. Not installed.
#pragma once

#include "imgscope/scope/base_scope.h"

namespace img {

// Runs `make` (which allocates a scope with new) and returns its result; a
// thrown CBadScopeException* is released with Delete() and anything else
// is swallowed, and the caller then gets null.
template <class Make>
auto NewScopeOrNull(Make&& make) -> decltype(make())
{
    try {
        return make();
    } catch (CBadScopeException* e) {
        e->Delete();
    } catch (...) {
        // The caller only learns that no scope could be made.
    }
    return nullptr;
}

}  // namespace img
