// Units of measure, values that carry a unit, intervals and the type codes
// shared by pixel elements and property values.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/library/export.h"

namespace utl {

// Element and property type codes. Pixel elements use 1 to 10; the codes
// above name the further value types a property can hold (see prop::CType).
enum EType : int {
    eTypeNone = 0,
    eInt8 = 1,
    eUInt8 = 2,
    eInt16 = 3,
    eUInt16 = 4,
    eInt32 = 5,
    eUInt32 = 6,
    eInt64 = 7,
    eUInt64 = 8,
    eFloat = 9,
    eDouble = 10,
    eBool = 11,
    eString = 12,
    ePointer = 13,
    eIVec2 = 14,
    eIVec3 = 15,
    eDVec2 = 16,
    eIVecN = 17,
    eIndexN = 18,
    eIRect = 19,
    eDRect = 20,
    eDInterval = 21,
    ePropSet = 22,
    eIVolumeN = 23,
    eIInterval = 24,
    eDVec3 = 25,
};

// Bytes of one element of a pixel type code 1 to 10; 0 for other codes.
IMGSCOPE_API int ElementSize(int typeCode);

// Quantity codes of CUnit.
enum EQuantity : int {
    eQuantityNone = 0,
    eQuantityLength = 1,
    eQuantityTime = 2,
    eQuantityPixel = 129,
    eQuantityArbitrary = 191,
};

// A unit: a quantity raised to an exponent, scaled by a power of ten
// (the decimal prefix: -6 for micro, -9 for nano).
class IMGSCOPE_API CUnit {
public:
    constexpr CUnit() = default;
    constexpr CUnit(int quantity, int exponent, int decimalPrefix)
        : m_quantity(quantity), m_exponent(exponent), m_prefix(decimalPrefix) {}

    // The quantity code (0 none, 1 length, 2 time, 129 pixel, 191 arbitrary).
    constexpr int GetUnit() const { return m_quantity; }
    constexpr int GetQuantity() const { return m_quantity; }
    constexpr int GetExponent() const { return m_exponent; }
    constexpr int GetDecimalPrefix() const { return m_prefix; }

    // Same quantity and exponent: values convert by a power of ten.
    constexpr bool Compatible(CUnit const& other) const
    {
        return m_quantity == other.m_quantity && m_exponent == other.m_exponent;
    }

    constexpr bool operator==(CUnit const& o) const
    {
        return m_quantity == o.m_quantity && m_exponent == o.m_exponent && m_prefix == o.m_prefix;
    }
    constexpr bool operator!=(CUnit const& o) const { return !(*this == o); }

private:
    int m_quantity = eQuantityNone;
    int m_exponent = 1;
    int m_prefix = 0;
};

// The pixel unit.
inline constexpr CUnit c_pixel{eQuantityPixel, 1, 0};

// Units of the x and of the y axis.
class CUnit2 {
public:
    CUnit x;
    CUnit y;

    constexpr CUnit2() = default;
    constexpr CUnit2(CUnit const& x_, CUnit const& y_) : x(x_), y(y_) {}
    constexpr bool operator==(CUnit2 const& o) const { return x == o.x && y == o.y; }
    constexpr bool operator!=(CUnit2 const& o) const { return !(*this == o); }
};

// `value` in unit `from` expressed in unit `to`. Throws
// std::invalid_argument when the units are not compatible.
IMGSCOPE_API double Convert(double value, CUnit const& from, CUnit const& to);
IMGSCOPE_API geo::CdVec2 Convert(geo::CdVec2 const& value, CUnit const& from, CUnit const& to);
IMGSCOPE_API geo::CdRect Convert(geo::CdRect const& value, CUnit const& from, CUnit const& to);

// A value with its unit.
template <class T>
class TUnitValue {
public:
    CUnit unit;
    T value{};

    TUnitValue() = default;
    TUnitValue(CUnit const& u, T const& v) : unit(u), value(v) {}
    // The same unit with the number cast to T (long long from int64_t).
    template <class U>
    explicit TUnitValue(TUnitValue<U> const& o) : unit(o.unit), value(static_cast<T>(o.value))
    {
    }

    bool operator==(TUnitValue const& o) const { return unit == o.unit && value == o.value; }
    bool operator!=(TUnitValue const& o) const { return !(*this == o); }
};

// A closed interval [lower, upper]; empty when lower > upper or NaN.
template <class T>
class TInterval {
public:
    T lower{};
    T upper{};

    TInterval() = default;
    TInterval(T const& lo, T const& hi) : lower(lo), upper(hi) {}

    bool IsEmpty() const { return !(lower <= upper); }
    T Length() const { return upper - lower; }
    bool Contains(T const& v) const { return lower <= v && v <= upper; }

    bool operator==(TInterval const& o) const { return lower == o.lower && upper == o.upper; }
    bool operator!=(TInterval const& o) const { return !(*this == o); }
};

}  // namespace utl
