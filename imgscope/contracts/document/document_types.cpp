#include "imgscope/contracts/document/document_types.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace img {

CVecGraph::~CVecGraph() = default;

geo::CiRect CVecGraph::GetBoundary() const
{
    geo::CiRect bounds;
    for (tShape const& shape : m_shapes) {
        geo::CdRect r = shape.bounds;
        r.Normalize();
        // Outlines cover the pixels they touch: floor the start, ceil the end.
        const auto clampInt = [](double v) {
            if (std::isnan(v))
                return 0;
            v = std::max(v, double(std::numeric_limits<int>::min() / 2));
            v = std::min(v, double(std::numeric_limits<int>::max() / 2));
            return static_cast<int>(v);
        };
        const geo::CiRect shapeBounds(clampInt(std::floor(r.left)), clampInt(std::floor(r.top)),
                                      clampInt(std::ceil(r.right)) + 1, clampInt(std::ceil(r.bottom)) + 1);
        bounds = geo::Union(bounds, shapeBounds);
    }
    return bounds;
}

CDisplayFilter::CDisplayFilter()
{
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<std::uint8_t>(i);
}

CDisplayFilter::~CDisplayFilter() = default;

void CDisplayFilter::Apply(std::uint8_t* bgr, int count) const
{
    if (!bgr || count <= 0)
        return;
    const std::int64_t n = std::int64_t(count) * 3;
    for (std::int64_t i = 0; i < n; ++i)
        bgr[i] = table[bgr[i]];
}

}  // namespace img
