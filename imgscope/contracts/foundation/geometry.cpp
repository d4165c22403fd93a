#include "imgscope/contracts/foundation/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace geo {

namespace {

int TruncateToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

int Saturate(std::int64_t v)
{
    if (v > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

// Dimension that an iterator walks first; out-of-range requests take 0.
int WalkDimension(int dim, int count)
{
    return dim >= 0 && dim < count ? dim : 0;
}

}  // namespace

CiVecN& CiVecN::Append(CiVecN const& tail)
{
    m_values.insert(m_values.end(), tail.m_values.begin(), tail.m_values.end());
    return *this;
}

CiVecN CiVecN::Sub(std::size_t first, std::size_t count) const
{
    if (first >= m_values.size())
        return {};
    const std::size_t n = std::min(count, m_values.size() - first);
    const auto from = m_values.begin() + static_cast<std::ptrdiff_t>(first);
    return CiVecN(std::vector<int>(from, from + static_cast<std::ptrdiff_t>(n)));
}

CiVec2 CiVecN::XY() const
{
    return {m_values.empty() ? 0 : m_values[0], m_values.size() < 2 ? 0 : m_values[1]};
}

CiRect::CiRect(CdRect const& r)
    : left(TruncateToInt(r.left)), top(TruncateToInt(r.top)), right(TruncateToInt(r.right)),
      bottom(TruncateToInt(r.bottom))
{
}

CiVec2 CiRect::GetPoint(int corner) const
{
    switch (corner & 3) {
    case 0: return {left, top};
    case 1: return {right, top};
    case 2: return {right, bottom};
    default: return {left, bottom};
    }
}

void CiRect::Normalize()
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
}

void CiRect::MoveToXY(int x, int y)
{
    right = Saturate(std::int64_t(x) + (std::int64_t(right) - left));
    bottom = Saturate(std::int64_t(y) + (std::int64_t(bottom) - top));
    left = x;
    top = y;
}

void CiRect::Inflate(CiVec2 const& d)
{
    left = Saturate(std::int64_t(left) - d.x);
    right = Saturate(std::int64_t(right) + d.x);
    top = Saturate(std::int64_t(top) - d.y);
    bottom = Saturate(std::int64_t(bottom) + d.y);
}

void CiRect::Offset(CiVec2 const& d)
{
    left = Saturate(std::int64_t(left) + d.x);
    right = Saturate(std::int64_t(right) + d.x);
    top = Saturate(std::int64_t(top) + d.y);
    bottom = Saturate(std::int64_t(bottom) + d.y);
}

CdVec2 CdRect::GetPoint(int corner) const
{
    switch (corner & 3) {
    case 0: return {left, top};
    case 1: return {right, top};
    case 2: return {right, bottom};
    default: return {left, bottom};
    }
}

void CdRect::Normalize()
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
}

void CdRect::MoveToXY(double x, double y)
{
    right = x + (right - left);
    bottom = y + (bottom - top);
    left = x;
    top = y;
}

void CdRect::Inflate(CdVec2 const& d)
{
    left -= d.x;
    right += d.x;
    top -= d.y;
    bottom += d.y;
}

CiRect Intersection(CiRect const& a, CiRect const& b)
{
    CiRect r(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom));
    return r.IsEmpty() ? CiRect() : r;
}

CdRect Intersection(CdRect const& a, CdRect const& b)
{
    CdRect r(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom));
    return r.IsEmpty() ? CdRect() : r;
}

CiRect Union(CiRect const& a, CiRect const& b)
{
    if (a.IsEmpty())
        return b.IsEmpty() ? CiRect() : b;
    if (b.IsEmpty())
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

CiVolumeN::CiVolumeN(CiRect const& rect)
{
    m_position = CiVecN{rect.left, rect.top};
    m_size = CiVecN{std::max(rect.Width(), 0), std::max(rect.Height(), 0)};
}

CiVolumeN::CiVolumeN(CiVecN const& begin, CiVecN const& end)
{
    const std::size_t n = std::min(begin.size(), end.size());
    m_position = CiVecN(n, 0);
    m_size = CiVecN(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        m_position[i] = begin[i];
        const std::int64_t extent = std::int64_t(end[i]) - begin[i];
        m_size[i] = extent > 0 ? static_cast<int>(std::min<std::int64_t>(extent, std::numeric_limits<int>::max()))
                               : 0;
    }
}

CiVolumeN CiVolumeN::FromPositionSize(CiVecN const& position, CiVecN const& size)
{
    const std::size_t n = std::min(position.size(), size.size());
    CiVolumeN v;
    v.SetSize(size.Sub(0, n));
    v.SetPosition(position.Sub(0, n));
    return v;
}

void CiVolumeN::SetPosition(CiVecN const& position)
{
    m_position = position;
    m_size.Resize(position.size(), 0);
}

void CiVolumeN::SetSize(CiVecN const& size)
{
    m_size = size;
    for (int& s : m_size)
        s = std::max(s, 0);
    m_position.Resize(size.size(), 0);
}

bool CiVolumeN::SetPosition(int dim, int value)
{
    if (dim < 0 || dim >= GetDimension())
        return false;
    m_position[static_cast<std::size_t>(dim)] = value;
    return true;
}

bool CiVolumeN::SetSize(int dim, int value)
{
    if (dim < 0 || dim >= GetDimension())
        return false;
    m_size[static_cast<std::size_t>(dim)] = std::max(value, 0);
    return true;
}

CiVecN CiVolumeN::End() const
{
    CiVecN e = m_position;
    for (std::size_t i = 0; i < e.size(); ++i)
        e[i] = Saturate(std::int64_t(m_position[i]) + m_size[i]);
    return e;
}

std::int64_t CiVolumeN::Volume() const
{
    if (m_size.empty())
        return 0;
    std::int64_t v = 1;
    for (int s : m_size) {
        if (s <= 0)
            return 0;
        if (v > std::numeric_limits<std::int64_t>::max() / s)
            return std::numeric_limits<std::int64_t>::max();
        v *= s;
    }
    return v;
}

CiRect CiVolumeN::Reduce() const
{
    // Computed in place: caches call this per row span, and End() would
    // allocate a vector each time.
    const auto end = [&](std::size_t i) { return Saturate(std::int64_t(m_position[i]) + m_size[i]); };
    const int x0 = m_position.size() > 0 ? m_position[0] : 0;
    const int y0 = m_position.size() > 1 ? m_position[1] : 0;
    const int x1 = m_position.size() > 0 ? end(0) : 0;
    const int y1 = m_position.size() > 1 ? end(1) : 0;
    return {x0, y0, x1, y1};
}

CiVolumeN& CiVolumeN::Append(CiVolumeN const& tail)
{
    m_position.Append(tail.m_position);
    m_size.Append(tail.m_size);
    return *this;
}

bool CiVolumeN::Contains(CiVecN const& position) const
{
    if (position.size() != m_position.size() || m_position.empty())
        return false;
    for (std::size_t i = 0; i < position.size(); ++i) {
        const std::int64_t rel = std::int64_t(position[i]) - m_position[i];
        if (rel < 0 || rel >= m_size[i])
            return false;
    }
    return true;
}

CiVolumeN::const_iterator CiVolumeN::begin(int dim) const
{
    const_iterator it;
    it.m_begin = m_position;
    it.m_end = End();
    it.m_first = WalkDimension(dim, GetDimension());
    it.m_pos = IsEmpty() ? end(dim).m_pos : m_position;
    return it;
}

CiVolumeN::const_iterator CiVolumeN::end(int dim) const
{
    const_iterator it;
    it.m_begin = m_position;
    it.m_end = End();
    it.m_pos = m_position;
    if (!m_position.empty()) {
        it.m_first = WalkDimension(dim, GetDimension());
        it.m_pos[static_cast<std::size_t>(it.m_first)] = it.m_end[static_cast<std::size_t>(it.m_first)];
    }
    return it;
}

CiVolumeN::const_iterator& CiVolumeN::const_iterator::operator++()
{
    const int n = m_pos.GetDimension();
    if (n == 0)
        return *this;
    // Odometer over the walk order: the dimension just before m_first (in
    // cyclic order) is the fastest, m_first the slowest.
    for (int k = n - 1; k >= 0; --k) {
        const auto d = static_cast<std::size_t>((m_first + k) % n);
        if (k == 0) {
            ++m_pos[d];  // the slowest dimension runs past its end: the end position
            return *this;
        }
        if (++m_pos[d] < m_end[d])
            return *this;
        m_pos[d] = m_begin[d];
    }
    return *this;
}

CiVolumeN Intersection(CiVolumeN const& a, CiVolumeN const& b)
{
    const std::size_t n = std::min(a.Position().size(), b.Position().size());
    CiVecN pos(n, 0);
    CiVecN size(n, 0);
    const CiVecN ea = a.End();
    const CiVecN eb = b.End();
    for (std::size_t i = 0; i < n; ++i) {
        const int lo = std::max(a.Position()[i], b.Position()[i]);
        const int hi = std::min(ea[i], eb[i]);
        pos[i] = lo;
        size[i] = hi > lo ? Saturate(std::int64_t(hi) - lo) : 0;
    }
    return CiVolumeN::FromPositionSize(pos, size);
}

}  // namespace geo
