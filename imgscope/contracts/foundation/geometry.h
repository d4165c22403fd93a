// Geometry value types: fixed and run-time-length vectors, rectangles and
// N-dimensional boxes with iteration over their positions.
#pragma once

#include "imgscope/library/export.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <type_traits>
#include <vector>

namespace geo {

class CdRect;

// A pair of numbers; x first.
template <class T>
class TVec2 {
public:
    T x{};
    T y{};

    constexpr TVec2() = default;
    constexpr TVec2(T x_, T y_) : x(x_), y(y_) {}

    constexpr T& operator[](int i) { return i == 0 ? x : y; }
    constexpr T const& operator[](int i) const { return i == 0 ? x : y; }

    constexpr TVec2 operator+(TVec2 const& o) const { return {x + o.x, y + o.y}; }
    constexpr TVec2 operator-(TVec2 const& o) const { return {x - o.x, y - o.y}; }
    constexpr TVec2 operator-() const { return {-x, -y}; }
    constexpr TVec2& operator+=(TVec2 const& o) { x += o.x; y += o.y; return *this; }
    constexpr TVec2& operator-=(TVec2 const& o) { x -= o.x; y -= o.y; return *this; }
    constexpr TVec2 operator*(T f) const { return {x * f, y * f}; }
    constexpr TVec2& operator*=(T f) { x *= f; y *= f; return *this; }
    constexpr TVec2 operator/(T f) const { return {x / f, y / f}; }

    // Component-wise reciprocal; a zero component gives an infinity, as
    // calibration code expects divisions to stay unguarded. Integer vectors
    // have no reciprocal.
    constexpr TVec2 Inverse() const
    {
        static_assert(std::is_floating_point<T>::value, "Inverse needs a floating-point vector");
        return {T(1) / x, T(1) / y};
    }

    constexpr bool operator==(TVec2 const& o) const { return x == o.x && y == o.y; }
    constexpr bool operator!=(TVec2 const& o) const { return !(*this == o); }
};

template <class T>
constexpr TVec2<T> operator*(T f, TVec2<T> const& v) { return v * f; }

// Component-wise product.
template <class T>
constexpr TVec2<T> Prod(TVec2<T> const& a, TVec2<T> const& b) { return {a.x * b.x, a.y * b.y}; }

// A triple of numbers; x, y, z.
template <class T>
class TVec3 {
public:
    T x{};
    T y{};
    T z{};

    constexpr TVec3() = default;
    constexpr TVec3(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}

    constexpr T& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    constexpr T const& operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

    constexpr bool operator==(TVec3 const& o) const { return x == o.x && y == o.y && z == o.z; }
    constexpr bool operator!=(TVec3 const& o) const { return !(*this == o); }
};

using CiVec2 = TVec2<int>;
using CdVec2 = TVec2<double>;
using CiVec3 = TVec3<int>;
using CdVec3 = TVec3<double>;

// An integer vector of run-time length: frame indices, N-D positions and
// sizes. Ordered lexicographically; a proper prefix sorts first.
class IMGSCOPE_API CiVecN {
public:
    CiVecN() = default;
    CiVecN(std::initializer_list<int> values) : m_values(values) {}
    explicit CiVecN(std::vector<int> values) : m_values(std::move(values)) {}
    // `count` components, each `value`.
    CiVecN(std::size_t count, int value) : m_values(count, value) {}
    explicit CiVecN(CiVec2 const& v) : m_values{v.x, v.y} {}
    explicit CiVecN(CiVec3 const& v) : m_values{v.x, v.y, v.z} {}

    std::size_t size() const { return m_values.size(); }
    bool empty() const { return m_values.empty(); }
    int GetDimension() const { return static_cast<int>(m_values.size()); }

    int& operator[](std::size_t i) { return m_values[i]; }
    int const& operator[](std::size_t i) const { return m_values[i]; }
    int* data() { return m_values.data(); }
    int const* data() const { return m_values.data(); }

    std::vector<int>::iterator begin() { return m_values.begin(); }
    std::vector<int>::iterator end() { return m_values.end(); }
    std::vector<int>::const_iterator begin() const { return m_values.begin(); }
    std::vector<int>::const_iterator end() const { return m_values.end(); }

    std::vector<int> const& Values() const { return m_values; }

    // Adds one component, or all components of `tail`, at the end.
    CiVecN& Append(int value) { m_values.push_back(value); return *this; }
    CiVecN& Append(CiVecN const& tail);
    // Up to `count` components from `first` on; empty when `first` is past
    // the end. A property address splits into Sub(0, 1) and Sub(1).
    CiVecN Sub(std::size_t first, std::size_t count = static_cast<std::size_t>(-1)) const;
    void Resize(std::size_t count, int value = 0) { m_values.resize(count, value); }
    void Clear() { m_values.clear(); }

    // The first two components; missing ones read as 0.
    CiVec2 XY() const;

    bool operator==(CiVecN const& o) const { return m_values == o.m_values; }
    bool operator!=(CiVecN const& o) const { return m_values != o.m_values; }
    bool operator<(CiVecN const& o) const { return m_values < o.m_values; }

private:
    std::vector<int> m_values;
};

// Strict weak order of CiVecN for ordered containers (frame selections).
struct tiVecNLess {
    bool operator()(CiVecN const& a, CiVecN const& b) const { return a < b; }
};

// An integer rectangle with exclusive right and bottom edges. Corners by
// index: 0 = (left, top), 1 = (right, top), 2 = (right, bottom),
// 3 = (left, bottom).
class IMGSCOPE_API CiRect {
public:
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    constexpr CiRect() = default;
    constexpr CiRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    // (0, 0) to `size`.
    constexpr explicit CiRect(CiVec2 const& size) : right(size.x), bottom(size.y) {}
    // From two opposite corners, as given (not normalised).
    constexpr CiRect(CiVec2 const& corner0, CiVec2 const& corner2)
        : left(corner0.x), top(corner0.y), right(corner2.x), bottom(corner2.y) {}
    // Each coordinate truncated toward zero; NaN becomes 0 and values past
    // the int range saturate.
    explicit CiRect(CdRect const& r);

    // Right − left and bottom − top; negative for an inverted rectangle,
    // saturated at the int range for rectangles wider than it.
    constexpr int Width() const { return Saturate(std::int64_t(right) - left); }
    constexpr int Height() const { return Saturate(std::int64_t(bottom) - top); }
    constexpr CiVec2 Size() const { return {Width(), Height()}; }
    constexpr CiVec2 TopLeft() const { return {left, top}; }
    // Width × height in 64 bits (a 100000 × 100000 layer passes 2^31);
    // 0 for an empty or inverted rectangle.
    constexpr std::int64_t Area() const
    {
        return IsEmpty() ? 0 : (std::int64_t(right) - left) * (std::int64_t(bottom) - top);
    }
    constexpr bool IsEmpty() const { return right <= left || bottom <= top; }

    CiVec2 GetPoint(int corner) const;
    // Swaps edges so that left ≤ right and top ≤ bottom.
    void Normalize();
    void NormalizeRect() { Normalize(); }
    // Moves the top-left corner to (x, y), keeping the size. Edges that
    // would leave the int range stop at its limit, here and below.
    void MoveToXY(int x, int y);
    void MoveToXY(CiVec2 const& p) { MoveToXY(p.x, p.y); }
    // Grows each side by d (shrinks for negative components); shrinking
    // past the centre inverts the rectangle, which then counts as empty.
    void Inflate(CiVec2 const& d);
    void Offset(CiVec2 const& d);
    constexpr bool Contains(CiVec2 const& p) const
    {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }

    constexpr bool operator==(CiRect const& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    constexpr bool operator!=(CiRect const& o) const { return !(*this == o); }

private:
    static constexpr int Saturate(std::int64_t v)
    {
        return v > 2147483647 ? 2147483647 : (v < -2147483647 - 1 ? -2147483647 - 1 : static_cast<int>(v));
    }
};

// A rectangle of doubles, same conventions as CiRect.
class IMGSCOPE_API CdRect {
public:
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;

    constexpr CdRect() = default;
    constexpr CdRect(double l, double t, double r, double b) : left(l), top(t), right(r), bottom(b) {}
    constexpr CdRect(CdVec2 const& corner0, CdVec2 const& corner2)
        : left(corner0.x), top(corner0.y), right(corner2.x), bottom(corner2.y) {}
    constexpr explicit CdRect(CiRect const& r) : left(r.left), top(r.top), right(r.right), bottom(r.bottom) {}

    constexpr double Width() const { return right - left; }
    constexpr double Height() const { return bottom - top; }
    constexpr CdVec2 Size() const { return {right - left, bottom - top}; }
    constexpr double Area() const { return IsEmpty() ? 0.0 : (right - left) * (bottom - top); }
    // Also true when an edge is NaN.
    constexpr bool IsEmpty() const { return !(right > left) || !(bottom > top); }

    CdVec2 GetPoint(int corner) const;
    void Normalize();
    void MoveToXY(double x, double y);
    void Inflate(CdVec2 const& d);

    constexpr bool operator==(CdRect const& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    constexpr bool operator!=(CdRect const& o) const { return !(*this == o); }
};

// Overlap of two rectangles; (0, 0, 0, 0) when they do not overlap. An
// inverted rectangle is empty and overlaps nothing: normalise first to
// intersect the area between its edges.
IMGSCOPE_API CiRect Intersection(CiRect const& a, CiRect const& b);
IMGSCOPE_API CdRect Intersection(CdRect const& a, CdRect const& b);
// Smallest rectangle holding both; an empty operand is ignored.
IMGSCOPE_API CiRect Union(CiRect const& a, CiRect const& b);
// True when right < left or bottom < top. Pixel rectangles are never
// flipped for the caller: an inverted one is empty, making something of
// that extent fails and a call over it finds no pixels. Normalise first to
// mean the area between the edges.
constexpr bool IsInverted(CiRect const& r) { return r.right < r.left || r.bottom < r.top; }

// An N-dimensional box: a position and a size per dimension, x and y first.
// Iteration visits every integer position inside the box.
class IMGSCOPE_API CiVolumeN {
public:
    // Walks the positions of a volume. `begin(d)` makes dimension d the
    // slowest and then d+1, …, N-1, 0, …, d-1 faster in turn, so begin(0)
    // walks in lexicographic order. The end position has dimension d one past
    // its last value and every other dimension at its start. A dimension
    // outside 0..N-1 walks as dimension 0 does.
    class IMGSCOPE_API const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = CiVecN;
        using difference_type = std::ptrdiff_t;
        using pointer = CiVecN const*;
        using reference = CiVecN const&;

        const_iterator() = default;
        CiVecN const& operator*() const { return m_pos; }
        CiVecN const* operator->() const { return &m_pos; }
        CiVecN const& Position() const { return m_pos; }
        const_iterator& operator++();
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const_iterator const& o) const { return m_pos == o.m_pos; }
        bool operator!=(const_iterator const& o) const { return !(m_pos == o.m_pos); }

    private:
        friend class CiVolumeN;
        CiVecN m_pos;
        CiVecN m_begin;
        CiVecN m_end;  // exclusive
        int m_first = 0;
    };

    CiVolumeN() = default;
    // The 2-D box of a rectangle at its left and top edges; an inverted
    // axis has size 0 (it is never flipped).
    explicit CiVolumeN(CiRect const& rect);
    // From a begin position (inclusive) and an end position (exclusive);
    // an end below its begin gives size 0 in that dimension. Vectors of
    // different length use the shorter one's count.
    CiVolumeN(CiVecN const& begin, CiVecN const& end);
    // From a position and a size (negative sizes become 0). Vectors of
    // different length use the shorter one's count.
    static CiVolumeN FromPositionSize(CiVecN const& position, CiVecN const& size);

    int GetDimension() const { return m_position.GetDimension(); }
    CiVecN const& Position() const { return m_position; }
    CiVecN const& Size() const { return m_size; }
    CiVecN const& GetPosition() const { return m_position; }
    CiVecN const& GetSize() const { return m_size; }
    // Exclusive end per dimension (position + size, stopping at INT_MAX).
    CiVecN End() const;
    // Replace position or size; the other vector is cut or padded with 0
    // to the new dimension count. Negative sizes become 0.
    void SetPosition(CiVecN const& position);
    void SetSize(CiVecN const& size);
    // One dimension; false (and nothing changed) for a dimension the
    // volume does not have. A negative size becomes 0.
    bool SetPosition(int dim, int value);
    bool SetSize(int dim, int value);

    // Number of positions, in 64 bits; 0 without dimensions or when any size
    // is 0 or negative. Saturates at INT64_MAX.
    std::int64_t Volume() const;
    bool IsEmpty() const { return Volume() == 0; }
    // The x-y rectangle (dimensions 0 and 1; missing ones as 0).
    CiRect Reduce() const;
    // The dimensions of `tail` follow this volume's.
    CiVolumeN& Append(CiVolumeN const& tail);
    bool Contains(CiVecN const& position) const;

    const_iterator begin(int dim = 0) const;
    const_iterator end(int dim = 0) const;

    bool operator==(CiVolumeN const& o) const
    {
        return m_position == o.m_position && m_size == o.m_size;
    }
    bool operator!=(CiVolumeN const& o) const { return !(*this == o); }

private:
    CiVecN m_position;
    CiVecN m_size;
};

// Overlap of two volumes over the dimensions both have; sizes are 0 where
// they do not overlap.
IMGSCOPE_API CiVolumeN Intersection(CiVolumeN const& a, CiVolumeN const& b);

}  // namespace geo
