// The equality walk over two documents. It reads both through the public
// interface only, so it stays a check of what users can observe.
#include "imgscope/io/document_compare.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/io/value_text_internal.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <typeinfo>

namespace img {

namespace {

using tFrames = std::set<geo::CiVecN, geo::tiVecNLess>;

std::string Text(geo::CiVecN const& v) { return "(" + io::FormatInts(v.Values()) + ")"; }

bool SameDouble(double a, double b)
{
    return a == b ? std::signbit(a) == std::signbit(b) : (std::isnan(a) && std::isnan(b));
}

bool SameValue(mem::CBin const& a, mem::CBin const& b)
{
    if (a == b)
        return true;
    if (a.GetType() != b.GetType())
        return false;
    // Values holding NaN never equal themselves; their text forms do.
    io::CXmlWriter wa, wb;
    wa.Open("V");
    wb.Open("V");
    if (!io::WriteValue(wa, a) || !io::WriteValue(wb, b))
        return false;
    return wa.Str().find("nan") != std::string::npos && wa.Str() == wb.Str();
}

// Walks both documents side by side and remembers the first difference as
// a path of the places it passed through.
class CWalk {
public:
    explicit CWalk(std::string* out) : m_out(out) {}

    bool Documents(CImg const& a, CImg const& b)
    {
        utl::CPropSet pa, pb;
        a.GetProperties(pa);
        b.GetProperties(pb);
        if (!Props("document properties", pa, pb))
            return false;
        auto da = GetDynPropStorage(a), db = GetDynPropStorage(b);
        if (da.size() != db.size())
            return Diff("dynamic property sets: count");
        for (std::size_t i = 0; i < da.size(); ++i)
            if (!Props("dynamic property set " + std::to_string(i), *da[i], *db[i]))
                return false;
        if (!Same("highest stack ID given out", a.GetHighestStackId(), b.GetHighestStackId()))
            return false;
        int ia = a.FirstStackId(), ib = b.FirstStackId();
        for (; ia != -1 || ib != -1; ia = a.NextStackId(ia), ib = b.NextStackId(ib)) {
            if (ia != ib)
                return Diff("stack IDs: " + std::to_string(ia) + " against " + std::to_string(ib));
            tPush push(*this, "stack " + std::to_string(ia));
            if (!Stacks(a.FindStack(ia), b.FindStack(ib)))
                return false;
        }
        return Trees(CDisplProcessFlow(a, false), CDisplProcessFlow(b, false));
    }

private:
    struct tPush {
        tPush(CWalk& w, std::string step) : walk(w) { walk.m_path.push_back(std::move(step)); }
        ~tPush() { walk.m_path.pop_back(); }
        CWalk& walk;
    };

    bool Diff(std::string const& what)
    {
        if (m_out) {
            std::string path;
            for (auto const& p : m_path)
                path += p + " / ";
            *m_out = path + what;
        }
        return false;
    }

    template <class T>
    bool Same(char const* what, T const& a, T const& b)
    {
        return a == b ? true : Diff(what);
    }
    bool SameD(char const* what, double a, double b) { return SameDouble(a, b) ? true : Diff(what); }
    bool SameD2(char const* what, geo::CdVec2 const& a, geo::CdVec2 const& b)
    {
        return SameD(what, a.x, b.x) && SameD(what, a.y, b.y);
    }

    bool Props(std::string const& where, utl::CPropSet const& a, utl::CPropSet const& b)
    {
        tPush push(*this, where);
        const auto ids = a.GetPropertyList();
        if (ids != b.GetPropertyList())
            return Diff("property IDs");
        for (int id : ids)
            if (!SameValue(*a.AccessProperty(id), *b.AccessProperty(id)))
                return Diff("property " + std::to_string(id));
        return true;
    }

    // ---- pixels ------------------------------------------------------------

    bool Frames(boost::shared_ptr<mem::CDataFrame> const& pa, boost::shared_ptr<mem::CDataFrame> const& pb)
    {
        if (!pa || !pb)
            return Same("presence", bool(pa), bool(pb));
        mem::CDataFrame const& a = *pa;
        mem::CDataFrame const& b = *pb;
        if (!Same("pixel type", a.GetElementInfo(), b.GetElementInfo()) ||
            !Same("boundary", a.GetBoundary(), b.GetBoundary()) ||
            !Same("memory model", a.GetMemoryModel(), b.GetMemoryModel()) ||
            !Same("alignment", a.GetAlign(), b.GetAlign()) || !Same("tile size", a.GetTileSize(), b.GetTileSize()) ||
            !Props("creation properties", a.GetCreationProperties(), b.GetCreationProperties()))
            return false;
        const auto px = static_cast<std::size_t>(a.GetElementInfo().Size());
        if (std::memcmp(a.GetFillValue(), b.GetFillValue(), px) != 0)
            return Diff("fill value");
        mem::CTileDistributor const* ta = a.GetTileDistributor();
        mem::CTileDistributor const* tb = b.GetTileDistributor();
        if (!ta || !tb) {
            if (ta || tb)
                return Diff("tiled against resident");
            return AllPlanes(a, b);
        }
        std::vector<geo::CiVecN> tilesA, tilesB;
        ExistingTiles(*ta, tilesA);
        ExistingTiles(*tb, tilesB);
        if (tilesA != tilesB) {
            for (std::size_t i = 0; i < std::max(tilesA.size(), tilesB.size()); ++i)
                if (i >= tilesA.size() || i >= tilesB.size() || tilesA[i] != tilesB[i])
                    return Diff("written tiles differ at " +
                                Text(i < tilesA.size() ? tilesA[i] : tilesB[i]));
        }
        const geo::CiVolumeN box = a.GetBoundary();
        const geo::CiVec2 tile = a.GetTileSize();
        for (geo::CiVecN const& t : tilesA) {
            const int x0 = int(std::int64_t(box.Position()[0]) + std::int64_t(t[0]) * tile.x);
            const int y0 = int(std::int64_t(box.Position()[1]) + std::int64_t(t[1]) * tile.y);
            const geo::CiRect rect(x0, y0, int(std::min<std::int64_t>(std::int64_t(x0) + tile.x, std::int64_t(box.Position()[0]) + box.Size()[0])),
                                   int(std::min<std::int64_t>(std::int64_t(y0) + tile.y, std::int64_t(box.Position()[1]) + box.Size()[1])));
            if (!Pixels(a, b, rect, t.Sub(2), "tile " + Text(t)))
                return false;
        }
        return true;
    }

    static void ExistingTiles(mem::CTileDistributor const& d, std::vector<geo::CiVecN>& out)
    {
        const geo::CiVecN end = d.GetEnd(0);
        geo::CiVecN at = d.GetBegin(0);
        while (at != end) {
            out.push_back(at);
            geo::CiVecN next;
            if (!d.GetNextExisting(at, next, 0))
                break;
            at = next;
        }
    }

    bool AllPlanes(mem::CDataFrame const& a, mem::CDataFrame const& b)
    {
        const geo::CiVolumeN planes = a.GetPlaneAssortment().GetBoundary();
        const geo::CiRect rect = a.GetBoundary().Reduce();
        if (planes.GetDimension() == 0)
            return Pixels(a, b, rect, geo::CiVecN(), "plane");
        if (planes.Volume() == 0)
            return true;
        for (auto it = planes.begin(0), end = planes.end(0); it != end; ++it)
            if (!Pixels(a, b, rect, *it, "plane " + Text(*it)))
                return false;
        return true;
    }

    bool Pixels(mem::CDataFrame const& a, mem::CDataFrame const& b, geo::CiRect const& rect, geo::CiVecN const& plane,
                std::string const& where)
    {
        const auto px = static_cast<std::size_t>(a.GetElementInfo().Size());
        for (int y = rect.top; y < rect.bottom; ++y) {
            for (int x = rect.left; x < rect.right;) {
                std::uint8_t const* ra = nullptr;
                std::uint8_t const* rb = nullptr;
                const int na = a.GetRowSpan({x, y}, plane, ra);
                const int nb = b.GetRowSpan({x, y}, plane, rb);
                const int n = std::min({na, nb, rect.right - x});
                if (n <= 0)
                    return Diff(where + ": rows cannot be read");
                if (std::memcmp(ra, rb, std::size_t(n) * px) != 0)
                    return Diff(where + ": pixels differ in row " + std::to_string(y));
                x += n;
            }
        }
        return true;
    }

    // ---- stacks --------------------------------------------------------------

    bool Stacks(CStack const& a, CStack const& b)
    {
        if (!Same("validity", a.IsValid(), b.IsValid()) || !Same("layer type", a.GetLayerType(), b.GetLayerType()) ||
            !Same("name", a.GetName().Str(), b.GetName().Str()) || !Same("dimension count", a.DimCount(0), b.DimCount(0)) ||
            !Same("XY-fixed", a.GetXYFixed(), b.GetXYFixed()) ||
            !Same("channel dimension", a.GetChannelDim(), b.GetChannelDim()) ||
            !Same("boundary", a.GetBoundary(), b.GetBoundary()) || !Props("properties", a.GetPropset(), b.GetPropset()))
            return false;
        if (!FrameProperties(a, b) || !DimProperties(a, b) || !Blobs(a, b) || !Calibration(a, b) || !Channels(a, b))
            return false;
        if (a.GetLayerType() == eLayerTypeVector)
            return Graphics(a.GetVecGraph(utl::CIndexN()), b.GetVecGraph(utl::CIndexN()));
        {
            tPush push(*this, "data frame 0");
            if (!Frames(a.GetDataFrame(0), b.GetDataFrame(0)))
                return false;
        }
        const std::vector<int> samples = a.GetSampleIDs();
        if (!Same("sample IDs", samples, b.GetSampleIDs()))
            return false;
        for (int s : samples) {
            tPush push(*this, "sample " + std::to_string(s));
            ESampleFlag fa = eSampleNone, fb = eSampleNone;
            a.GetSampleFlag(s, fa);
            b.GetSampleFlag(s, fb);
            if (!Same("flag", fa, fb) || !Frames(a.GetDataFrame(s), b.GetDataFrame(s)))
                return false;
        }
        const auto loose = a.GetLooseFrameIndices();
        if (!Same("frames apart from the data frame", loose, b.GetLooseFrameIndices()))
            return false;
        for (utl::CIndexN const& index : loose) {
            tPush push(*this, "frame " + Text(index));
            auto fa = a.GetPixFrame(index), fb = b.GetPixFrame(index);
            if (!fa || !fb)
                return Same("presence", bool(fa), bool(fb));
            if (!Same("plane", fa->GetPlane(), fb->GetPlane()) || !Frames(fa->GetDataFrame(), fb->GetDataFrame()))
                return false;
        }
        return true;
    }

    bool FrameProperties(CStack const& a, CStack const& b)
    {
        const auto indices = a.GetFramePropertyIndices();
        if (!Same("frames with properties", indices, b.GetFramePropertyIndices()))
            return false;
        for (utl::CIndexN const& index : indices) {
            utl::CPropSet pa, pb;
            a.GetProperties(index, pa);
            b.GetProperties(index, pb);
            if (!Props("frame " + Text(index), pa, pb))
                return false;
        }
        return true;
    }

    bool DimProperties(CStack const& a, CStack const& b)
    {
        const auto keys = a.GetDimPropertyKeys();
        if (!Same("dimensions with properties", keys, b.GetDimPropertyKeys()))
            return false;
        for (auto const& key : keys) {
            utl::CPropSet pa, pb;
            a.GetDimProperties(key.first, key.second, pa);
            b.GetDimProperties(key.first, key.second, pb);
            if (!Props("dimension " + std::to_string(key.first) + " channel " + std::to_string(key.second), pa, pb))
                return false;
        }
        return true;
    }

    bool Blobs(CStack const& a, CStack const& b)
    {
        const auto ids = a.GetBlobIDs();
        if (!Same("blob IDs", ids, b.GetBlobIDs()))
            return false;
        for (int id : ids) {
            mem::CBin va, vb;
            a.GetBlob(va, id);
            b.GetBlob(vb, id);
            if (!SameValue(va, vb))
                return Diff("blob " + std::to_string(id));
        }
        return true;
    }

    bool Calibration(CStack const& a, CStack const& b)
    {
        const auto dims = a.GetCalibratedDims();
        if (!Same("calibrated dimensions", dims, b.GetCalibratedDims()))
            return false;
        for (int d : dims) {
            tPush push(*this, "calibration of dimension " + std::to_string(d));
            double oa = 0, sa = 0, ob = 0, sb = 0;
            utl::CUnit ua, ub;
            a.GetDimOriginScale(EPhysDim(d), oa, sa, ua);
            b.GetDimOriginScale(EPhysDim(d), ob, sb, ub);
            if (!SameD("origin", oa, ob) || !SameD("scale", sa, sb) || !Same("unit", ua, ub))
                return false;
        }
        return true;
    }

    bool Channels(CStack const& a, CStack const& b)
    {
        std::vector<int> ca, cb;
        for (int c = a.FirstChannel(); c != -1; c = a.NextChannel(c))
            ca.push_back(c);
        for (int c = b.FirstChannel(); c != -1; c = b.NextChannel(c))
            cb.push_back(c);
        if (!Same("channels", ca, cb))
            return false;
        ca.insert(ca.begin(), -1);
        for (int c : ca) {
            tPush push(*this, "channel " + std::to_string(c));
            utl::TInterval<double> la, lb;
            const bool ha = a.GetDispLimits(la, c), hb = b.GetDispLimits(lb, c);
            if (!Same("limits", ha, hb) || !SameD("lower limit", la.lower, lb.lower) ||
                !SameD("upper limit", la.upper, lb.upper))
                return false;
            std::vector<utl::CBGR8> lutA, lutB;
            const bool hasA = a.GetLUT(lutA, c), hasB = b.GetLUT(lutB, c);
            if (!Same("LUT", hasA, hasB) || !Same("LUT", lutA, lutB))
                return false;
            CString na, nb;
            const bool named = a.GetChannelName(na, c);
            if (!Same("name", named, b.GetChannelName(nb, c)) || !Same("name", na.Str(), nb.Str()))
                return false;
        }
        return true;
    }

    bool Graphics(boost::shared_ptr<CVecGraph> const& a, boost::shared_ptr<CVecGraph> const& b)
    {
        if (!a || !b)
            return Same("graphic", bool(a), bool(b));
        auto const& sa = a->Shapes();
        auto const& sb = b->Shapes();
        if (sa.size() != sb.size())
            return Diff("shape count");
        for (std::size_t i = 0; i < sa.size(); ++i) {
            tPush push(*this, "shape " + std::to_string(i));
            geo::CdRect const& ra = sa[i].bounds;
            geo::CdRect const& rb = sb[i].bounds;
            if (!Same("kind", sa[i].kind, sb[i].kind) || !SameD("left", ra.left, rb.left) ||
                !SameD("top", ra.top, rb.top) || !SameD("right", ra.right, rb.right) ||
                !SameD("bottom", ra.bottom, rb.bottom) || !Same("blue", sa[i].blue, sb[i].blue) ||
                !Same("green", sa[i].green, sb[i].green) || !Same("red", sa[i].red, sb[i].red))
                return false;
        }
        return true;
    }

    // ---- layer trees ---------------------------------------------------------

    bool Trees(CDisplProcessFlow const& a, CDisplProcessFlow const& b)
    {
        tPush push(*this, "layer tree");
        if (!Units(a, b, a.RootId(), b.RootId()))
            return false;
        for (ELayerType type : {eLayerTypeImage, eLayerTypeVector})
            if (!Same("selected layer", a.GetActiveStackID(type), b.GetActiveStackID(type)))
                return false;
        tPush canvas(*this, "canvas");
        geo::CdVec2 oa, sa, ob, sb;
        utl::CUnit2 ua, ub;
        const bool ca = a.GetImagePlaneCalibration(oa, sa, ua);
        if (!Same("rectangle", a.GetImagePlaneRect(), b.GetImagePlaneRect()) ||
            !Same("calibrated", ca, b.GetImagePlaneCalibration(ob, sb, ub)) || !SameD2("origin", oa, ob) ||
            !SameD2("scale", sa, sb) || !Same("units", ua, ub))
            return false;
        geo::CdRect ra, rb;
        const bool hra = a.GetCanvasRectangle(ra);
        if (!Same("canvas rectangle", hra, b.GetCanvasRectangle(rb)) || !SameD("left", ra.left, rb.left) ||
            !SameD("top", ra.top, rb.top) || !SameD("right", ra.right, rb.right) || !SameD("bottom", ra.bottom, rb.bottom))
            return false;
        CCanvasColor bga, bda, bgb, bdb;
        a.GetCanvasColors(bga, bda);
        b.GetCanvasColors(bgb, bdb);
        return Same("background", bga, bgb) && Same("border", bda, bdb);
    }

    bool Units(CDisplProcessFlow const& a, CDisplProcessFlow const& b, int pa, int pb)
    {
        const int count = a.GetOpUnitCount(pa);
        if (!Same("entry count", count, b.GetOpUnitCount(pb)))
            return false;
        for (int i = 0; i < count; ++i) {
            const int ea = a.GetOpUnit(pa, i), eb = b.GetOpUnit(pb, i);
            tPush push(*this, "entry " + std::to_string(i));
            if (!Same("group", a.IsGroup(ea), b.IsGroup(eb)) || !Same("visible", a.IsVisible(ea), b.IsVisible(eb)) ||
                !Same("hidden", a.IsHidden(ea), b.IsHidden(eb)) || !EntryProps(a, b, ea, eb, -1))
                return false;
            if (a.IsGroup(ea) ? !Group(a, b, ea, eb) : !LayerEntry(a, b, ea, eb))
                return false;
        }
        return true;
    }

    bool EntryProps(CDisplProcessFlow const& a, CDisplProcessFlow const& b, int ea, int eb, int channel)
    {
        utl::CPropSet pa, pb;
        const bool ha = a.GetProperties(ea, channel, pa);
        if (!Same("has properties", ha, b.GetProperties(eb, channel, pb)))
            return false;
        return Props("properties", pa, pb);
    }

    bool Group(CDisplProcessFlow const& a, CDisplProcessFlow const& b, int ea, int eb)
    {
        CString na, nb;
        bool la = false, lb = false, sa = false, sb = false;
        a.GetGroupName(ea, na);
        b.GetGroupName(eb, nb);
        a.IsGroupLocked(ea, la);
        b.IsGroupLocked(eb, lb);
        a.IsGroupSingular(ea, sa);
        b.IsGroupSingular(eb, sb);
        return Same("group name", na.Str(), nb.Str()) && Same("locked", la, lb) && Same("singular", sa, sb) &&
               Units(a, b, ea, eb);
    }

    bool LayerEntry(CDisplProcessFlow const& a, CDisplProcessFlow const& b, int ea, int eb)
    {
        if (!Same("layer ID", a.GetStackId(ea), b.GetStackId(eb)))
            return false;
        const std::set<int> channels = a.GetChannelList(ea, false);
        if (!Same("channels", channels, b.GetChannelList(eb, false)))
            return false;
        for (int c : channels) {
            tPush push(*this, "channel " + std::to_string(c));
            std::vector<utl::CBGR8> la, lb;
            const bool hla = a.GetLUT(ea, c, la);
            ELayerFunction fa = eFunctionNormal, fb = eFunctionNormal;
            a.GetFunction(ea, c, fa);
            b.GetFunction(eb, c, fb);
            if (!Same("visible", a.IsVisible(ea, c), b.IsVisible(eb, c)) || !Same("LUT", hla, b.GetLUT(eb, c, lb)) ||
                !Same("LUT", la, lb) || !Same("function", fa, fb) || !EntryProps(a, b, ea, eb, c))
                return false;
        }
        int ua = 0, ub = 0;
        a.GetUseLUT(ea, ua);
        b.GetUseLUT(eb, ub);
        tFrames sa, sb;
        a.GetFrameSelection(ea, sa);
        b.GetFrameSelection(eb, sb);
        if (!Same("LUT use", ua, ub) || !Same("frame selection", sa, sb) ||
            !Same("selected channels", a.GetSelectedChannels(ea), b.GetSelectedChannels(eb)) ||
            !Same("active frame", a.GetActiveFrameIndex(ea), b.GetActiveFrameIndex(eb)) ||
            !Same("active dimension", a.GetActiveStackDim(ea), b.GetActiveStackDim(eb)))
            return false;
        geo::CdVec2 oa, sca, ob, scb;
        const bool placed = a.GetLayerCanvasPlacement(ea, oa, sca);
        if (!Same("placement", placed, b.GetLayerCanvasPlacement(eb, ob, scb)) || !SameD2("placement origin", oa, ob) ||
            !SameD2("placement scale", sca, scb))
            return false;
        return Filter(a, b, ea, eb) && Mask(a, b, ea, eb);
    }

    bool Filter(CDisplProcessFlow const& a, CDisplProcessFlow const& b, int ea, int eb)
    {
        boost::shared_ptr<CDisplayFilter> fa, fb;
        const bool ha = a.GetDisplayFilter(ea, fa);
        if (!Same("display filter", ha, b.GetDisplayFilter(eb, fb)))
            return false;
        if (!ha)
            return true;
        CDisplayFilter const& filterA = *fa;
        CDisplayFilter const& filterB = *fb;
        if (typeid(filterA) != typeid(filterB))
            return Diff("display filter class");
        return std::memcmp(fa->table, fb->table, sizeof(fa->table)) == 0 ? true : Diff("display filter table");
    }

    bool Mask(CDisplProcessFlow const& a, CDisplProcessFlow const& b, int ea, int eb)
    {
        const auto ma = a.GetTransparencyMask(ea), mb = b.GetTransparencyMask(eb);
        if (!ma || !mb)
            return Same("transparency mask", bool(ma), bool(mb));
        tPush push(*this, "transparency mask");
        if (!Same("active", a.IsTransparencyMaskActive(ea), b.IsTransparencyMaskActive(eb)) ||
            !Same("boundary", ma->GetBoundary(), mb->GetBoundary()) ||
            !Same("initial value", ma->GetInitialValue(), mb->GetInitialValue()))
            return false;
        return Frames(ma->GetPixFrame()->GetDataFrame(), mb->GetPixFrame()->GetDataFrame());
    }

    std::string* m_out;
    std::vector<std::string> m_path;
};

}  // namespace

bool CompareDocuments(CImg const& a, CImg const& b, std::string* difference)
{
    std::string found;
    const bool same = CWalk(&found).Documents(a, b);
    if (!same && difference)
        *difference = found;
    return same;
}

}  // namespace img
