#include "imgscope/contracts/document/pix_frame.h"

#include "imgscope/contracts/foundation/tile_store_internal.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

namespace img {

namespace {

// Full plane coordinates of a caller's plane argument; throws when outside.
geo::CiVecN ResolvePlane(boost::shared_ptr<mem::CDataFrame> const& frame, geo::CiVecN const& plane)
{
    if (!frame)
        throw std::invalid_argument("pixel frame: no data frame");
    mem::CTileStore const& s = frame->Store();
    if (s.m_dims < 2)
        throw std::invalid_argument("pixel frame: data frame without x and y");
    if (plane.empty())
        return s.m_planes.GetDimension() == 0 ? geo::CiVecN() : s.m_planes.Position();
    if (s.m_planes.GetDimension() == 0 || !s.m_planes.Contains(plane))
        throw std::invalid_argument("pixel frame: plane outside the data frame");
    return plane;
}

// The viewed plane can leave the frame when its plane range shrinks later;
// such a view reads and writes nothing.
bool PlaneValid(mem::CTileStore const& s, geo::CiVecN const& key)
{
    return s.m_planes.GetDimension() == 0 ? key.empty() : s.m_planes.Contains(key);
}

geo::CiVolumeN PlaneBox(mem::CTileStore const& s, geo::CiRect const& rect, geo::CiVecN const& key)
{
    geo::CiVolumeN box(rect);
    if (!key.empty())
        box.Append(geo::CiVolumeN::FromPositionSize(key, geo::CiVecN(key.size(), 1)));
    (void)s;
    return box;
}

}  // namespace

CPixFrame::CPixFrame(boost::shared_ptr<mem::CDataFrame> frame, geo::CiVecN const& plane)
    : m_pFrame(std::move(frame))
{
    m_plane = ResolvePlane(m_pFrame, plane);
}

CPixFrame::~CPixFrame() = default;
CPixFrame::CPixFrame(CPixFrame const&) = default;
CPixFrame& CPixFrame::operator=(CPixFrame const&) = default;

boost::shared_ptr<CPixFrame> CPixFrame::Create(geo::CiRect const& rect, CPixelInfo const& info,
                                               mem::EMemoryModel model, mem::EAlign align,
                                               utl::CPropSet const& props)
{
    try {
        utl::CPropSet p = props;
        if (!p.PropertyExists(mem::ePropMemoryModel))
            p.SetValue(mem::ePropMemoryModel, static_cast<int>(model));
        if (!p.PropertyExists(mem::ePropAlign))
            p.SetValue(mem::ePropAlign, static_cast<int>(align));
        if (geo::IsInverted(rect))
            return {};  // a negative extent, not a request to flip it
        boost::shared_ptr<mem::CDataFrame> frame(new mem::CDataFrame(geo::CiVolumeN(rect), info, p));
        return boost::shared_ptr<CPixFrame>(new CPixFrame(frame));
    } catch (std::exception const&) {
        return {};
    }
}

boost::shared_ptr<CPixFrame> CPixFrame::Create(boost::shared_ptr<mem::CDataFrame> frame, geo::CiVecN const& plane)
{
    try {
        return boost::shared_ptr<CPixFrame>(new CPixFrame(std::move(frame), plane));
    } catch (std::exception const&) {
        return {};
    }
}

boost::shared_ptr<mem::CDataFrame> CPixFrame::GetDataFrame() const
{
    return m_pFrame;
}

geo::CiVecN const& CPixFrame::GetPlane() const
{
    return m_plane;
}

geo::CiRect CPixFrame::GetBoundary(int level) const
{
    if (level != 0)
        return geo::CiRect();
    mem::CTileStore const& s = m_pFrame->Store();
    return {s.m_x0, s.m_y0, s.m_x0 + s.m_width, s.m_y0 + s.m_height};
}

CPixelInfo const& CPixFrame::GetPixelInfo() const
{
    return m_pFrame->GetElementInfo();
}

bool CPixFrame::ReadRowSegment(geo::CiVec2 point, int count, void* buffer, int flags) const
{
    (void)flags;
    if (count <= 0 || std::int64_t(point.x) + count > std::numeric_limits<int>::max())
        return false;
    return m_pFrame->ReadRect(geo::CiRect(point.x, point.y, point.x + count, point.y + 1), m_plane, buffer, 0);
}

bool CPixFrame::WriteRowSegment(geo::CiVec2 point, int count, void const* buffer, int flags)
{
    (void)flags;
    if (count <= 0 || std::int64_t(point.x) + count > std::numeric_limits<int>::max())
        return false;
    return m_pFrame->WriteRect(geo::CiRect(point.x, point.y, point.x + count, point.y + 1), m_plane, buffer, 0);
}

bool CPixFrame::ReadRect(geo::CiRect const& rect, void* buffer, int bufferWidth, int flags) const
{
    (void)flags;
    if (bufferWidth > 0 && bufferWidth < rect.Width())
        return false;
    const std::int64_t stride = bufferWidth > 0 ? std::int64_t(bufferWidth) * m_pFrame->GetElementInfo().Size() : 0;
    return m_pFrame->ReadRect(rect, m_plane, buffer, stride);
}

bool CPixFrame::WriteRect(geo::CiRect const& rect, void const* buffer, int bufferWidth, int flags)
{
    (void)flags;
    if (bufferWidth > 0 && bufferWidth < rect.Width())
        return false;
    const std::int64_t stride = bufferWidth > 0 ? std::int64_t(bufferWidth) * m_pFrame->GetElementInfo().Size() : 0;
    return m_pFrame->WriteRect(rect, m_plane, buffer, stride);
}

bool CPixFrame::FillRect(geo::CiRect const& rect, void const* pixel)
{
    mem::CTileStore const& s = m_pFrame->Store();
    if (rect.IsEmpty() || !PlaneValid(s, m_plane))
        return false;
    try {
        return m_pFrame->Fill(PlaneBox(s, rect, m_plane), pixel);
    } catch (std::bad_alloc const&) {
        return false;
    }
}

int CPixFrame::GetRowSpan(geo::CiVec2 point, std::uint8_t const*& data) const
{
    return m_pFrame->GetRowSpan(point, m_plane, data);
}

int CPixFrame::GetRowSpanForWrite(geo::CiVec2 point, std::uint8_t*& data)
{
    return m_pFrame->GetRowSpanForWrite(point, m_plane, data);
}

boost::shared_ptr<mem::CReadCache> CPixFrame::CreateReadCache(geo::CiRect const& rect, int flags) const
{
    mem::CTileStore const& s = m_pFrame->Store();
    // An inverted rectangle is a negative size, refused as the data frame
    // refuses one, not flipped.
    if (geo::IsInverted(rect) || !PlaneValid(s, m_plane))
        return {};
    try {
        return m_pFrame->CreateReadCache(PlaneBox(s, rect, m_plane), flags);
    } catch (std::bad_alloc const&) {
        return {};
    }
}

boost::shared_ptr<mem::CWriteCache> CPixFrame::CreateWriteCache(geo::CiRect const& rect, int flags)
{
    mem::CTileStore const& s = m_pFrame->Store();
    if (geo::IsInverted(rect) || !PlaneValid(s, m_plane))
        return {};
    try {
        return m_pFrame->CreateWriteCache(PlaneBox(s, rect, m_plane), flags);
    } catch (std::bad_alloc const&) {
        return {};
    }
}

boost::shared_ptr<CTileDistributor> CPixFrame::GetTileDistributor() const
{
    try {
        return boost::shared_ptr<CTileDistributor>(new CTileDistributor(m_pFrame, m_plane));
    } catch (std::exception const&) {
        return {};
    }
}

// ---- CTileDistributor ----------------------------------------------------------

CTileDistributor::CTileDistributor(boost::shared_ptr<mem::CDataFrame> frame, geo::CiVecN const& plane)
    : m_pFrame(std::move(frame))
{
    m_plane = ResolvePlane(m_pFrame, plane);
}

CTileDistributor::const_iterator CTileDistributor::begin() const
{
    const_iterator it;
    it.m_pOwner = this;
    geo::CiVec2 first;
    if (!GetNextExisting(geo::CiVec2(-1, 0), first))
        return end();
    it.m_pos = first;
    it.m_pTile = ProvideTile(first);
    return it;
}

CTileDistributor::const_iterator CTileDistributor::end() const
{
    const_iterator it;
    it.m_pOwner = this;
    it.m_pos = geo::CiVec2(0, GetTileCount().y);
    return it;
}

CTileDistributor::const_iterator& CTileDistributor::const_iterator::operator++()
{
    if (!m_pOwner)
        return *this;
    geo::CiVec2 next;
    if (m_pOwner->GetNextExisting(m_pos, next)) {
        m_pos = next;
        m_pTile = m_pOwner->GetTile(next);
    } else {
        m_pos = geo::CiVec2(0, m_pOwner->GetTileCount().y);
        m_pTile.reset();
    }
    return *this;
}

geo::CiVec2 CTileDistributor::GetTileSize() const
{
    return m_pFrame->GetTileSize();
}

std::int64_t CTileDistributor::GetTileRowSize() const
{
    return m_pFrame->GetTileRowSize();
}

geo::CiVec2 CTileDistributor::GetTileCount() const
{
    mem::CTileStore const& s = m_pFrame->Store();
    return {s.m_tilesX, s.m_tilesY};
}

geo::CiRect CTileDistributor::GetTileRect(geo::CiVec2 tile) const
{
    mem::CTileStore const& s = m_pFrame->Store();
    if (tile.x < 0 || tile.y < 0 || tile.x >= s.m_tilesX || tile.y >= s.m_tilesY)
        return geo::CiRect();
    return s.TileRect(tile.x, tile.y);
}

namespace {

geo::CiVecN GridPosition(geo::CiVec2 tile, geo::CiVecN const& plane, int dims)
{
    geo::CiVecN p{tile.x, tile.y};
    if (dims > 2)
        p.Append(plane);
    return p;
}

}  // namespace

// A resident frame hands out no distributor of its own, but its planes are
// single tiles all the same, so the frame's internal one serves here.
boost::shared_ptr<mem::ITileData> CTileDistributor::GetTile(geo::CiVec2 tile) const
{
    return m_pFrame->Distributor().GetTile(GridPosition(tile, m_plane, m_pFrame->GetDimension()));
}

boost::shared_ptr<mem::ITileData> CTileDistributor::ProvideTile(geo::CiVec2 tile) const
{
    return m_pFrame->Distributor().ProvideTile(GridPosition(tile, m_plane, m_pFrame->GetDimension()));
}

bool CTileDistributor::GetNextExisting(geo::CiVec2 from, geo::CiVec2& next) const
{
    mem::CTileStore const& s = m_pFrame->Store();
    if (!PlaneValid(s, m_plane))
        return false;
    mem::tPlane const* plane = s.FindPlane(m_plane);
    if (!plane)
        return false;
    auto const& tiles = s.SortedTiles(*plane);
    auto it = std::upper_bound(tiles.begin(), tiles.end(), from, [](geo::CiVec2 const& a, geo::CiVec2 const& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    if (it == tiles.end())
        return false;
    next = *it;
    return true;
}

}  // namespace img
