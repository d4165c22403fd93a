#include "imgscope/contracts/foundation/units.h"

#include <cstdlib>
#include <stdexcept>

namespace utl {

int ElementSize(int typeCode)
{
    switch (typeCode) {
    case eInt8:
    case eUInt8: return 1;
    case eInt16:
    case eUInt16: return 2;
    case eInt32:
    case eUInt32:
    case eFloat: return 4;
    case eInt64:
    case eUInt64:
    case eDouble: return 8;
    default: return 0;
    }
}

namespace {

// 10^n by repeated multiplication: exact for n ≤ 22, where pow() need not be.
double PowerOfTen(int n)
{
    double p = 1.0;
    for (int i = 0; i < n; ++i)
        p *= 10.0;
    return p;
}

// Applies 10^shift, dividing for negative shifts: 1e-6 is not exact, but
// dividing by the exact 1e6 gives the correctly rounded result.
double Scale(double value, long long shift)
{
    if (shift == 0)
        return value;
    const long long n = std::llabs(shift);
    if (n > 400)  // beyond any double: the result is 0 or infinite
        return shift > 0 ? value * 1e308 * 1e308 : value / 1e308 / 1e308;
    double result = value;
    long long left = n;
    while (left > 0) {
        const int step = left > 22 ? 22 : static_cast<int>(left);
        result = shift > 0 ? result * PowerOfTen(step) : result / PowerOfTen(step);
        left -= step;
    }
    return result;
}

void CheckCompatible(CUnit const& from, CUnit const& to)
{
    if (!from.Compatible(to))
        throw std::invalid_argument("utl::Convert: units of different quantity or exponent");
}

}  // namespace

double Convert(double value, CUnit const& from, CUnit const& to)
{
    CheckCompatible(from, to);
    const long long shift =
        (static_cast<long long>(from.GetDecimalPrefix()) - to.GetDecimalPrefix()) * from.GetExponent();
    return Scale(value, shift);
}

geo::CdVec2 Convert(geo::CdVec2 const& value, CUnit const& from, CUnit const& to)
{
    return {Convert(value.x, from, to), Convert(value.y, from, to)};
}

geo::CdRect Convert(geo::CdRect const& value, CUnit const& from, CUnit const& to)
{
    return {Convert(value.left, from, to), Convert(value.top, from, to), Convert(value.right, from, to),
            Convert(value.bottom, from, to)};
}

}  // namespace utl
