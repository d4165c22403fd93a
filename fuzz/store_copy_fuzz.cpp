// Random writes, fills, reads, copies and assignments between tiled frames of
// random extent, pixel type, tile size, memory model and fill value, each
// mirrored on a plain dense picture: every result and every pixel must agree.
#include "imgscope/contracts/foundation/data_frame.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

[[noreturn]] void Fail(char const* what)
{
    std::fprintf(stderr, "store_copy_fuzz: %s\n", what);
    std::abort();
}

void Check(bool ok, char const* what)
{
    if (!ok)
        Fail(what);
}

// A frame's pixels, plane after plane, row by row.
struct tDense {
    std::vector<std::int64_t> pos, size;  // per dimension
    int px = 0;
    img::CPixelInfo info;
    std::vector<std::uint8_t> bytes;

    std::int64_t Planes() const
    {
        std::int64_t n = 1;
        for (std::size_t i = 2; i < size.size(); ++i)
            n *= size[i];
        return n;
    }
    // Plane index of full plane coordinates (dimensions 2…).
    std::int64_t PlaneIndex(std::vector<std::int64_t> const& coords) const
    {
        std::int64_t index = 0;
        for (std::size_t i = size.size(); i-- > 2;)
            index = index * size[i] + (coords[i - 2] - pos[i]);
        return index;
    }
    std::uint8_t* At(std::int64_t plane, std::int64_t x, std::int64_t y)
    {
        return bytes.data() + ((plane * size[1] + (y - pos[1])) * size[0] + (x - pos[0])) * px;
    }
    bool Inside(std::int64_t x, std::int64_t y) const
    {
        return x >= pos[0] && x < pos[0] + size[0] && y >= pos[1] && y < pos[1] + size[1];
    }
};

struct tFrame {
    boost::shared_ptr<mem::CDataFrame> frame;
    tDense dense;
};

// "Opaque" as the copy writes it into added alpha components.
void Opaque(utl::EType type, std::uint8_t* out, int size)
{
    std::uint64_t bits = ~std::uint64_t(0);
    switch (type) {
    case utl::eFloat: {
        const float one = 1.0f;
        std::uint32_t b;
        std::memcpy(&b, &one, 4);
        bits = b;
        break;
    }
    case utl::eDouble: {
        const double one = 1.0;
        std::memcpy(&bits, &one, 8);
        break;
    }
    case utl::eInt8:
    case utl::eInt16:
    case utl::eInt32:
    case utl::eInt64: bits = (std::uint64_t(1) << (size * 8 - 1)) - 1; break;
    default: break;
    }
    std::memcpy(out, &bits, static_cast<std::size_t>(size));
}

img::CPixelInfo PickInfo(FuzzedDataProvider& in, img::CPixelInfo const& family)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
    case 1: return family;
    case 2: return family.AddAlpha(in.ConsumeIntegralInRange(1, 2));
    default:
        return img::CPixelInfo(in.ConsumeIntegralInRange(1, 10), in.ConsumeIntegralInRange(1, 4),
                               in.ConsumeIntegralInRange(0, 4));
    }
}

// Fills `n` bytes with copies of `pixel`, doubling what is done: the model
// stays cheap next to the code under test.
void Repeat(std::uint8_t* out, std::size_t n, std::uint8_t const* pixel, std::size_t px)
{
    std::memcpy(out, pixel, std::min(n, px));
    for (std::size_t done = std::min(n, px); done < n;) {
        const std::size_t m = std::min(done, n - done);
        std::memcpy(out + done, out, m);
        done += m;
    }
}

bool MakeFrame(FuzzedDataProvider& in, img::CPixelInfo const& family, tFrame& out)
{
    const int dims = in.ConsumeIntegralInRange(2, 3);
    std::vector<int> pos, size;
    pos.push_back(in.ConsumeIntegralInRange(-40, 40));
    pos.push_back(in.ConsumeIntegralInRange(-40, 40));
    // Mostly small frames, some large enough for the streamed row copies.
    const bool large = in.ConsumeIntegralInRange(0, 15) == 0;
    size.push_back(in.ConsumeIntegralInRange(1, large ? 400 : 64));
    size.push_back(in.ConsumeIntegralInRange(1, large ? 400 : 64));
    if (dims == 3) {
        pos.push_back(in.ConsumeIntegralInRange(-2, 2));
        size.push_back(in.ConsumeIntegralInRange(1, 3));
    }
    const img::CPixelInfo info = PickInfo(in, family);
    utl::CPropSet props;
    int tw = in.ConsumeIntegralInRange(1, 512), th = in.ConsumeIntegralInRange(1, 512);
    // At most a few hundred tiles per plane: one page each.
    while (std::int64_t((size[0] + tw - 1) / tw) * ((size[1] + th - 1) / th) > 256) {
        tw *= 2;
        th *= 2;
    }
    props.SetValue(mem::ePropTileSize, geo::CiVec3(tw, th, 1));
    static const int models[] = {-1, 0, 4, 13};
    props.SetValue(mem::ePropMemoryModel, models[in.ConsumeIntegralInRange(0, 3)]);
    props.SetValue(mem::ePropAlign, in.ConsumeIntegralInRange(0, 6));
    std::vector<std::uint8_t> fill(static_cast<std::size_t>(std::max(info.Size(), 1)));
    for (auto& b : fill)
        b = in.ConsumeIntegral<std::uint8_t>();
    props.SetValue(mem::ePropFillValue, static_cast<void*>(fill.data()));
    geo::CiVecN p, s;
    for (int i = 0; i < dims; ++i) {
        p.Append(pos[static_cast<std::size_t>(i)]);
        s.Append(size[static_cast<std::size_t>(i)]);
    }
    out.frame = mem::CDataFrame::Create(geo::CiVolumeN::FromPositionSize(p, s), info, props);
    if (!out.frame)
        return false;
    tDense& d = out.dense;
    d.pos.assign(pos.begin(), pos.end());
    d.size.assign(size.begin(), size.end());
    d.info = info;
    d.px = info.Size();
    d.bytes.resize(static_cast<std::size_t>(d.Planes() * size[0] * size[1] * d.px));
    Repeat(d.bytes.data(), d.bytes.size(), fill.data(), fill.size());
    return true;
}

geo::CiRect PickRect(FuzzedDataProvider& in, tDense const& d)
{
    const auto coord = [&](int axis) {
        return static_cast<int>(in.ConsumeIntegralInRange<std::int64_t>(d.pos[axis] - 8, d.pos[axis] + d.size[axis] + 8));
    };
    const int x0 = coord(0), x1 = coord(0), y0 = coord(1), y1 = coord(1);
    // Mostly ordered corners; sometimes as drawn, inverted included.
    if (in.ConsumeBool())
        return geo::CiRect(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1);
    return geo::CiRect(x0, y0, x1, y1);
}

// Plane argument and the full coordinates it names; `valid` false when it
// names no plane of the frame.
geo::CiVecN PickPlane(FuzzedDataProvider& in, tDense const& d, std::vector<std::int64_t>& coords, bool& valid)
{
    coords.clear();
    for (std::size_t i = 2; i < d.size.size(); ++i)
        coords.push_back(d.pos[i]);
    valid = true;
    if (d.size.size() == 2 || in.ConsumeBool())
        return geo::CiVecN();
    geo::CiVecN plane;
    for (std::size_t i = 2; i < d.size.size(); ++i) {
        const std::int64_t c = in.ConsumeIntegralInRange<std::int64_t>(d.pos[i] - 1, d.pos[i] + d.size[i]);
        valid = valid && c >= d.pos[i] && c < d.pos[i] + d.size[i];
        coords[i - 2] = c;
        plane.Append(static_cast<int>(c));
    }
    return plane;
}

bool WhollyInside(geo::CiRect const& r, tDense const& d)
{
    return r.left < r.right && r.top < r.bottom && d.Inside(r.left, r.top) && d.Inside(r.right - 1, r.bottom - 1);
}

std::vector<std::uint8_t> Noise(std::size_t n, std::uint32_t seed)
{
    std::minstd_rand rng(seed | 1u);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<std::uint8_t>(rng() >> 7);
    return v;
}

// A rectangle of one plane for a read or write, and whether the call must
// succeed.
struct tRectCall {
    geo::CiRect r;
    geo::CiVecN plane;
    std::int64_t planeIndex = 0;
    std::int64_t w = 0, h = 0;
    bool ok = false;

    tRectCall(FuzzedDataProvider& in, tDense const& d) : r(PickRect(in, d))
    {
        std::vector<std::int64_t> coords;
        bool planeOk = false;
        plane = PickPlane(in, d, coords, planeOk);
        ok = planeOk && WhollyInside(r, d);
        planeIndex = ok ? d.PlaneIndex(coords) : 0;
        w = std::max(r.Width(), 0);
        h = std::max(r.Height(), 0);
    }
};

void WriteRect(FuzzedDataProvider& in, tFrame& f)
{
    tDense& d = f.dense;
    const tRectCall c(in, d);
    const geo::CiRect& r = c.r;
    const bool ok = c.ok;
    const std::int64_t w = c.w, h = c.h;
    const std::int64_t rowBytes = in.ConsumeBool() ? 0 : w * d.px + in.ConsumeIntegralInRange(0, 9);
    const std::int64_t stride = rowBytes ? rowBytes : w * d.px;
    auto data = Noise(static_cast<std::size_t>(std::max<std::int64_t>(stride * h, 1)), in.ConsumeIntegral<std::uint32_t>());
    const auto before = f.frame->GetModificationCount();
    const bool done = f.frame->WriteRect(r, c.plane, data.data(), rowBytes);
    Check(done == ok, "WriteRect result");
    if (!done) {
        Check(f.frame->GetModificationCount() == before, "failed WriteRect counted a change");
        return;
    }
    for (int y = r.top; y < r.bottom; ++y)
        std::memcpy(d.At(c.planeIndex, r.left, y), data.data() + (y - r.top) * stride, static_cast<std::size_t>(w * d.px));
}

void ReadRect(FuzzedDataProvider& in, tFrame& f)
{
    tDense& d = f.dense;
    const tRectCall c(in, d);
    const bool ok = c.ok;
    const std::int64_t w = c.w, h = c.h;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::max<std::int64_t>(w * h * d.px, 1)), 0xA5);
    Check(f.frame->ReadRect(c.r, c.plane, buffer.data(), 0) == ok, "ReadRect result");
    for (std::int64_t y = 0; y < h; ++y) {
        std::uint8_t const* got = buffer.data() + y * w * d.px;
        if (!ok) {
            Check(std::all_of(got, got + w * d.px, [](std::uint8_t b) { return b == 0xA5; }), "failed read wrote");
            continue;
        }
        Check(std::memcmp(got, d.At(c.planeIndex, c.r.left, c.r.top + y), static_cast<std::size_t>(w * d.px)) == 0,
              "read pixels");
    }
}

void Fill(FuzzedDataProvider& in, tFrame& f)
{
    tDense& d = f.dense;
    const geo::CiRect r = PickRect(in, d);
    if (r.left >= r.right || r.top >= r.bottom)
        return;  // the box of an inverted rectangle is not a volume
    geo::CiVecN p{r.left, r.top}, s{r.Width(), r.Height()};
    std::vector<std::int64_t> lo(d.size.size()), hi(d.size.size());
    lo[0] = std::max<std::int64_t>(r.left, d.pos[0]);
    hi[0] = std::min<std::int64_t>(r.right, d.pos[0] + d.size[0]);
    lo[1] = std::max<std::int64_t>(r.top, d.pos[1]);
    hi[1] = std::min<std::int64_t>(r.bottom, d.pos[1] + d.size[1]);
    for (std::size_t i = 2; i < d.size.size(); ++i) {
        const int a = in.ConsumeIntegralInRange<int>(static_cast<int>(d.pos[i]) - 1, static_cast<int>(d.pos[i] + d.size[i]));
        const int n = in.ConsumeIntegralInRange(1, 3);
        p.Append(a);
        s.Append(n);
        lo[i] = std::max<std::int64_t>(a, d.pos[i]);
        hi[i] = std::min<std::int64_t>(a + n, d.pos[i] + d.size[i]);
    }
    bool any = true;
    for (std::size_t i = 0; i < lo.size(); ++i)
        any = any && lo[i] < hi[i];
    const auto pixel = Noise(static_cast<std::size_t>(d.px), in.ConsumeIntegral<std::uint32_t>());
    Check(f.frame->Fill(geo::CiVolumeN::FromPositionSize(p, s), pixel.data()) == any, "Fill result");
    if (!any)
        return;
    std::vector<std::int64_t> c(lo.begin() + 2, lo.end());
    for (;;) {
        const std::int64_t pi = d.PlaneIndex(c);
        for (std::int64_t y = lo[1]; y < hi[1]; ++y)
            Repeat(d.At(pi, lo[0], y), static_cast<std::size_t>((hi[0] - lo[0]) * d.px), pixel.data(),
                   static_cast<std::size_t>(d.px));
        std::size_t k = 0;
        for (; k < c.size(); ++k) {
            if (++c[k] < hi[k + 2])
                break;
            c[k] = lo[k + 2];
        }
        if (k == c.size())
            return;
    }
}

// The copy's documented rules: missing components, clipping to both frames
// dimension by dimension, pixel types equal or alpha added.
void Copy(FuzzedDataProvider& in, tFrame const& s, tFrame& t)
{
    tDense const& S = s.dense;
    tDense& T = t.dense;
    const int sd = static_cast<int>(S.size.size()), td = static_cast<int>(T.size.size());
    // Mostly a full box and position; sometimes short or too long ones.
    const bool odd = in.ConsumeIntegralInRange(0, 3) == 0;
    const int nb = odd ? in.ConsumeIntegralInRange(0, sd + 1) : sd;
    const int np = odd ? in.ConsumeIntegralInRange(0, td + 1) : td;
    geo::CiVecN bp, bs, tp;
    std::vector<std::int64_t> boxPos, boxSize, at;
    // Around the frames, closer in the plane dimensions, which are short.
    const auto margin = [](int i) { return i < 2 ? 10 : 1; };
    for (int i = 0; i < nb; ++i) {
        const std::size_t k = static_cast<std::size_t>(std::min(i, sd - 1));
        if (i >= 2 && !odd) {  // every plane
            boxPos.push_back(S.pos[k]);
            boxSize.push_back(S.size[k]);
        } else {
            boxPos.push_back(in.ConsumeIntegralInRange<std::int64_t>(S.pos[k] - margin(i), S.pos[k] + S.size[k] + 1));
            boxSize.push_back(in.ConsumeIntegralInRange<std::int64_t>(-1, S.size[k] + margin(i)));
        }
        bp.Append(static_cast<int>(boxPos.back()));
        bs.Append(static_cast<int>(boxSize.back()));
    }
    for (int i = 0; i < np; ++i) {
        const std::size_t k = static_cast<std::size_t>(std::min(i, td - 1));
        at.push_back(i >= 2 && !odd ? T.pos[k]
                                    : in.ConsumeIntegralInRange<std::int64_t>(T.pos[k] - margin(i), T.pos[k] + T.size[k] + 1));
        tp.Append(static_cast<int>(at.back()));
    }
    const bool alpha = S.info != T.info;
    bool ok = nb <= sd && np <= td &&
              (!alpha || (S.info.GetElementType() == T.info.GetElementType() && !S.info.HasAlpha() &&
                          T.info.HasAlpha() &&
                          S.info.GetComponentCount() == T.info.GetComponentCount() - T.info.GetAlphaCount()));
    const int D = std::max(sd, td);
    std::vector<std::int64_t> s0(static_cast<std::size_t>(D)), t0(static_cast<std::size_t>(D)), len(static_cast<std::size_t>(D));
    for (int i = 0; ok && i < D; ++i) {
        const auto k = static_cast<std::size_t>(i);
        std::int64_t a = 0, n = 1, b = 0;
        if (i < sd) {
            a = i < nb ? boxPos[k] : S.pos[k];
            n = i < nb ? boxSize[k] : 1;
        }
        if (i < td)
            b = i < np ? at[k] : T.pos[k];
        if (n <= 0 || (i >= td && n != 1)) {
            ok = false;
            break;
        }
        const auto clip = [&](tDense const& f, std::int64_t& start, std::int64_t& other) {
            const std::int64_t lo = std::max(start, f.pos[k]);
            const std::int64_t hi = std::min(start + n, f.pos[k] + f.size[k]);
            if (hi <= lo)
                return false;
            other += lo - start;
            start = lo;
            n = hi - lo;
            return true;
        };
        if ((i < sd && !clip(S, a, b)) || (i < td && !clip(T, b, a))) {
            ok = false;
            break;
        }
        s0[k] = a;
        t0[k] = b;
        len[k] = n;
    }
    // A copy within one frame acts as if through a buffer.
    tDense copied;
    if (&s == &t)
        copied = S;
    tDense& snapshot = &s == &t ? copied : const_cast<tDense&>(S);
    const bool done = mem::Copy(*s.frame, *t.frame, geo::CiVolumeN::FromPositionSize(bp, bs), tp, 0);
    Check(done == ok, "Copy result");
    if (!done)
        return;
    std::vector<std::uint8_t> opaque(static_cast<std::size_t>(T.info.GetComponentSize()));
    Opaque(T.info.GetElementType(), opaque.data(), T.info.GetComponentSize());
    std::vector<std::int64_t> off(static_cast<std::size_t>(D), 0);
    for (;;) {
        std::vector<std::int64_t> sc, tc;
        for (int i = 2; i < sd; ++i)
            sc.push_back(s0[static_cast<std::size_t>(i)] + off[static_cast<std::size_t>(i)]);
        for (int i = 2; i < td; ++i)
            tc.push_back(t0[static_cast<std::size_t>(i)] + off[static_cast<std::size_t>(i)]);
        const std::int64_t sp = snapshot.PlaneIndex(sc), tpi = T.PlaneIndex(tc);
        for (std::int64_t y = 0; y < len[1]; ++y) {
            if (T.px == snapshot.px) {
                std::memcpy(T.At(tpi, t0[0], t0[1] + y), snapshot.At(sp, s0[0], s0[1] + y),
                            static_cast<std::size_t>(len[0] * T.px));
                continue;
            }
            for (std::int64_t x = 0; x < len[0]; ++x) {
                std::uint8_t* to = T.At(tpi, t0[0] + x, t0[1] + y);
                std::memcpy(to, snapshot.At(sp, s0[0] + x, s0[1] + y), static_cast<std::size_t>(snapshot.px));
                for (int a = snapshot.px; a < T.px; a += static_cast<int>(opaque.size()))
                    std::memcpy(to + a, opaque.data(), opaque.size());
            }
        }
        int i = D - 1;
        for (; i >= 2; --i) {
            const auto k = static_cast<std::size_t>(i);
            if (++off[k] < len[k])
                break;
            off[k] = 0;
        }
        if (i < 2)
            return;
    }
}

void RowSpan(FuzzedDataProvider& in, tFrame& f)
{
    tDense& d = f.dense;
    const int x = static_cast<int>(in.ConsumeIntegralInRange<std::int64_t>(d.pos[0] - 2, d.pos[0] + d.size[0] + 1));
    const int y = static_cast<int>(in.ConsumeIntegralInRange<std::int64_t>(d.pos[1] - 2, d.pos[1] + d.size[1] + 1));
    std::uint8_t const* data = nullptr;
    const int n = f.frame->GetRowSpan({x, y}, {}, data);
    if (!d.Inside(x, y)) {
        Check(n == 0 && data == nullptr, "row span outside");
        return;
    }
    Check(n >= 1 && x + std::int64_t(n) <= d.pos[0] + d.size[0], "row span length");
    std::vector<std::int64_t> first;
    for (std::size_t i = 2; i < d.size.size(); ++i)
        first.push_back(d.pos[i]);
    Check(std::memcmp(data, d.At(d.PlaneIndex(first), x, y), static_cast<std::size_t>(n) * d.px) == 0, "row span pixels");
}

void CheckWhole(tFrame& f)
{
    tDense& d = f.dense;
    Check(f.frame->GetElementInfo() == d.info, "pixel type");
    const geo::CiRect all(static_cast<int>(d.pos[0]), static_cast<int>(d.pos[1]),
                          static_cast<int>(d.pos[0] + d.size[0]), static_cast<int>(d.pos[1] + d.size[1]));
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(d.size[0] * d.size[1] * d.px));
    std::vector<std::int64_t> c;
    for (std::size_t i = 2; i < d.size.size(); ++i)
        c.push_back(d.pos[i]);
    for (std::int64_t pi = 0; pi < d.Planes(); ++pi) {
        geo::CiVecN plane;
        for (auto v : c)
            plane.Append(static_cast<int>(v));
        Check(f.frame->ReadRect(all, plane, buffer.data(), 0), "whole read");
        Check(std::memcmp(buffer.data(), d.At(d.PlaneIndex(c), all.left, all.top), buffer.size()) == 0, "whole frame");
        for (std::size_t k = 0; k < c.size(); ++k) {
            if (++c[k] < d.pos[k + 2] + d.size[k + 2])
                break;
            c[k] = d.pos[k + 2];
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // Half the time a camera's layout (gray or RGB of 8 or 16 bits), which
    // the alpha-adding kernels serve; else any.
    const bool camera = in.ConsumeBool();
    const img::CPixelInfo family = camera ? img::CPixelInfo(in.ConsumeBool() ? utl::eUInt8 : utl::eUInt16,
                                                            in.ConsumeBool() ? 1 : 3, img::eColorSpaceRGB)
                                          : img::CPixelInfo(in.ConsumeIntegralInRange(1, 10),
                                                            in.ConsumeIntegralInRange(1, 4), in.ConsumeIntegralInRange(0, 4));
    std::vector<tFrame> frames(static_cast<std::size_t>(in.ConsumeIntegralInRange(1, 3)));
    for (auto& f : frames)
        if (!MakeFrame(in, family, f))
            return 0;
    for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) {
        tFrame& a = frames[in.ConsumeIntegralInRange<std::size_t>(0, frames.size() - 1)];
        tFrame& b = frames[in.ConsumeIntegralInRange<std::size_t>(0, frames.size() - 1)];
        switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0: WriteRect(in, a); break;
        case 1: ReadRect(in, a); break;
        case 2: Fill(in, a); break;
        case 3:
        case 4: Copy(in, a, b); break;
        case 5: RowSpan(in, a); break;
        default:
            // Assignment makes a deep copy: later writes to one leave the other alone.
            if (&a != &b) {
                *b.frame = *a.frame;
                b.dense = a.dense;
            }
            break;
        }
    }
    for (auto& f : frames)
        CheckWhole(f);
    return 0;
}
