// Turns an exception of the document model into a scope operation's failure
// result. Not installed.
#pragma once

#include <exception>
#include <utility>

namespace img {

// Runs `body` and returns its result, or `failure` when the model throws a
// standard exception. Operations whose contract lets an exception reach the
// caller do not use this.
template <class R, class F>
R Guarded(R failure, F&& body)
{
    try {
        return std::forward<F>(body)();
    } catch (std::exception const&) {
        return failure;
    }
}

}  // namespace img
