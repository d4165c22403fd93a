#include "imgscope/contracts/platform/win_compat.h"

#include <cmath>
#include <limits>

bool IsRectEmpty(geo::CiRect const* rect)
{
    return !rect || rect->IsEmpty();
}

int matRoundD(double value)
{
    if (std::isnan(value))
        return 0;
    const double r = std::round(value);  // halves away from zero
    if (r >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (r <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(r);
}
