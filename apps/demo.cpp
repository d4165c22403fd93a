// imgscope demo: a simulated slide scan on built-in synthetic tissue.
//
// An overview of the slide at 1.25x is thresholded into a sample mask; the
// mask chooses the 10x fields (those that hold sample) and, with
// FindSamplePos, the region scanned at 40x. Both magnifications are filled
// camera tile by camera tile in serpentine order, the autofocus position of
// every 40x field goes into a focus map, and a sharpness map of the 40x
// layer shows which fields came out soft. The document, the mask and both
// maps are written as PNGs, and the whole scan as one OME-TIFF.
//
//   imgscope_demo [--quick] [output folder]     (default ./imgscope-demo/)
//
// --quick scans a smaller slide, for the test run.
#include <imgscope/imgscope.h>

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if defined(__linux__)
#include <unistd.h>
#endif

namespace {

using tClock = std::chrono::steady_clock;

const utl::CUnit kMicrometre(utl::eQuantityLength, 1, -6);
const img::CPixelInfo kRgb8(utl::eUInt8, 3, img::eColorSpaceRGB);
const img::CPixelInfo kGray8(utl::eUInt8, 1, img::eColorSpaceGray);

constexpr int kCamera = 512;         // camera tiles are kCamera × kCamera pixels
constexpr double kOverlap = 0.1;     // neighbouring fields overlap by a tenth
constexpr double kOverviewUm = 8.0;  // micrometres per pixel at 1.25x, 10x, 40x
constexpr double k10xUm = 1.0;
constexpr double k40xUm = 0.25;
constexpr double kFocusRangeUm = 6.0;  // the focus map spans ±6 µm
constexpr int kFocusCell = 64;         // focus map pixels per 40x layer pixel, each way
constexpr int kSharpnessBlock = 32;

double Seconds(tClock::time_point a, tClock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double Seconds(tClock::time_point since)
{
    return Seconds(since, tClock::now());
}

std::uint32_t Hash(std::int64_t x, std::int64_t y, std::uint32_t salt)
{
    std::uint64_t h = std::uint64_t(x) * 0x9e3779b97f4a7c15ull ^ (std::uint64_t(y) + salt) * 0xc2b2ae3d27d4eb4full;
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 32;
    return static_cast<std::uint32_t>(h);
}

double Unit(std::uint32_t h)
{
    return (h & 0xffffff) / double(0x1000000);
}

// ---------------------------------------------------------------- synthetic tissue

// Smooth step from 0 at t = −1 to 1 at t = 1.
double Step(double t)
{
    const double x = std::clamp(0.5 * (t + 1.0), 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}

// A stained section on a slide, in micrometres: pieces of tissue with wavy
// outlines, pink stroma with fibres, and purple nuclei on a jittered grid.
// Every pixel is an analytic function of its position and of the optical
// blur, so a field out of focus is softer exactly as a lens would make it.
class CTissue {
public:
    struct tPiece {
        double cx, cy, rx, ry, angle;
    };

    // The outline is costly (trigonometry per piece): it is sampled once on
    // a grid of kGrid µm and interpolated.
    CTissue(std::vector<tPiece> pieces, double width, double height)
        : m_pieces(std::move(pieces)), m_columns(int(width / kGrid) + 2), m_rows(int(height / kGrid) + 2)
    {
        m_presence.resize(std::size_t(m_columns) * std::size_t(m_rows));
        for (int j = 0; j < m_rows; ++j)
            for (int i = 0; i < m_columns; ++i)
                m_presence[std::size_t(j) * m_columns + i] = float(Outline(i * kGrid, j * kGrid));
    }

    // 0 outside the tissue, 1 inside, a few micrometres of soft edge.
    double Presence(double x, double y) const
    {
        const double u = std::clamp(x / kGrid, 0.0, m_columns - 1.001), v = std::clamp(y / kGrid, 0.0, m_rows - 1.001);
        const int i = int(u), j = int(v);
        const double fx = u - i, fy = v - j;
        float const* p = &m_presence[std::size_t(j) * m_columns + i];
        return (p[0] * (1 - fx) + p[1] * fx) * (1 - fy) + (p[m_columns] * (1 - fx) + p[m_columns + 1] * fx) * fy;
    }

    // A row of `n` pixels of `pixelUm` from (x0, y) µm seen through optics
    // of `blur` µm, as RGB bytes.
    void Row(double x0, double y, double pixelUm, int n, double blur, std::uint8_t* rgb) const
    {
        static const double background[3] = {244, 242, 246}, stroma[3] = {226, 150, 186},
                            fibre[3] = {240, 190, 212}, nucleus[3] = {86, 52, 138};
        // Fibres: a wavy grating whose contrast a blur of s damps by
        // exp(−(s k)² / 2).
        const double k = 0.45;
        const double phase = 2.5 * std::sin(y * 0.021) + 0.6 * std::sin(y * 0.11);
        const double damping = std::exp(-0.5 * blur * blur * k * k);
        // One nucleus in most cells of kCell µm, wholly inside its cell even
        // when blurred, so that no cell needs its neighbours.
        const auto cj = static_cast<std::int64_t>(std::floor(y / kCell));
        const double edge = 0.25 + 0.6 * blur;
        for (int p = 0; p < n; ++p) {
            const double x = x0 + (p + 0.5) * pixelUm;
            const double tissue = Presence(x, y);
            const double fibres = (0.5 + 0.5 * std::sin(k * x + phase)) * damping;
            const auto ci = static_cast<std::int64_t>(std::floor(x / kCell));
            const std::uint32_t h = Hash(ci, cj, 7);
            double dye = 0.0;
            if (Unit(h) < 0.72) {
                const double nx = (ci + 0.4 + 0.2 * Unit(h >> 3)) * kCell;
                const double ny = (cj + 0.4 + 0.2 * Unit(Hash(ci, cj, 11))) * kCell;
                const double radius = 2.4 + 1.1 * Unit(Hash(ci, cj, 5));
                dye = Step((radius - std::hypot((x - nx) / 1.15, y - ny)) / edge);
            }
            for (int c = 0; c < 3; ++c) {
                const double base = stroma[c] + (fibre[c] - stroma[c]) * fibres;
                const double stained = base + (nucleus[c] - base) * dye;
                rgb[3 * p + c] = static_cast<std::uint8_t>(std::lround(background[c] + (stained - background[c]) * tissue));
            }
        }
    }

private:
    static constexpr double kGrid = 4.0;
    static constexpr double kCell = 14.0;

    double Outline(double x, double y) const
    {
        double best = 0.0;
        for (tPiece const& p : m_pieces) {
            const double c = std::cos(p.angle), s = std::sin(p.angle);
            const double u = ((x - p.cx) * c + (y - p.cy) * s) / p.rx;
            const double v = (-(x - p.cx) * s + (y - p.cy) * c) / p.ry;
            const double theta = std::atan2(v, u);
            const double wobble = 1.0 + 0.08 * std::sin(5 * theta + p.cx) + 0.04 * std::sin(13 * theta);
            const double r = std::sqrt(u * u + v * v) / wobble;
            best = std::max(best, std::clamp((1.0 - r) * std::min(p.rx, p.ry) / 6.0 + 0.5, 0.0, 1.0));
        }
        return best;
    }

    std::vector<tPiece> m_pieces;
    int m_columns, m_rows;
    std::vector<float> m_presence;
};

// ---------------------------------------------------------------- the slide

struct tSlide {
    double width;  // µm
    double height;
    CTissue tissue;
    double region[2];  // the 40x region searched for, µm
};

tSlide MakeSlide(bool quick)
{
    if (quick)
        return {1600, 1100, CTissue({{800, 560, 560, 380, 0.3}}, 1600, 1100), {300, 220}};
    return {6000, 4000,
            CTissue({{2300, 2050, 1350, 950, 0.35}, {4350, 1450, 760, 520, -0.5}, {4600, 2950, 480, 360, 1.1}}, 6000,
                    4000),
            {1500, 1100}};
}

// The optics' blur at a magnification, in µm, for a defocus of dz µm.
double Blur(double pixelUm, double dz)
{
    return 0.6 * pixelUm + 0.55 * std::fabs(dz);
}

// The slide's surface height under the objective, µm: a tilt and a bow.
double Surface(double x, double y)
{
    return 0.0006 * (x - 2500) - 0.0004 * (y - 1800) + 1.5 * std::sin(x / 900.0) * std::cos(y / 1300.0);
}

// A camera tile of `width` × `height` pixels of `pixelUm` from (x0, y0) µm,
// taken `dz` µm out of focus.
boost::shared_ptr<mem::CDataFrame> Capture(tSlide const& slide, double x0, double y0, double pixelUm, int width,
                                           int height, double dz)
{
    auto tile = mem::CDataFrame::Create(
        geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0}, geo::CiVecN{width, height}), kRgb8, utl::CPropSet());
    if (!tile)
        return tile;
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        slide.tissue.Row(x0, y0 + (y + 0.5) * pixelUm, pixelUm, width, Blur(pixelUm, dz), row.data());
        tile->WriteRect(geo::CiRect(0, y, width, y + 1), {}, row.data(), 0);
    }
    return tile;
}

// ---------------------------------------------------------------- output

// Writes a PNG of `channels` (1 grey, 3 RGB) 8-bit channels; `row(y, bytes)`
// fills row y. False on any failure.
bool WritePng(std::string const& path, int width, int height, int channels,
              std::function<bool(int, std::uint8_t*)> const& row)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info;
    std::vector<std::uint8_t> bytes(std::size_t(width) * std::size_t(channels));
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
                     channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height && ok; ++y) {
            ok = row(y, bytes.data());
            if (ok)
                png_write_row(png, bytes.data());
        }
        if (ok)
            png_write_end(png, nullptr);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

bool WriteFrame(std::string const& path, img::CPixFrame const& frame)
{
    const geo::CiRect b = frame.GetBoundary();
    const int channels = frame.GetPixelInfo().GetComponentCount();
    return WritePng(path, b.Width(), b.Height(), channels, [&](int y, std::uint8_t* row) {
        return frame.ReadRowSegment(geo::CiVec2(b.left, b.top + y), b.Width(), row, 0);
    });
}

// `crop` of a grey map through a colour scale (dark blue, purple, orange,
// yellow), each pixel drawn `scale` × `scale`; `unset` pixels stay dark grey.
bool WriteHeatMap(std::string const& path, img::CPixFrame const& frame, geo::CiRect crop, int scale,
                  std::function<bool(int, int)> const& unset)
{
    crop = geo::Intersection(crop, frame.GetBoundary());
    if (crop.IsEmpty())
        return false;
    std::vector<std::uint8_t> grey(std::size_t(crop.Width()));
    return WritePng(path, crop.Width() * scale, crop.Height() * scale, 3, [&](int y, std::uint8_t* row) {
        const int sy = crop.top + y / scale;
        if (!frame.ReadRowSegment(geo::CiVec2(crop.left, sy), crop.Width(), grey.data(), 0))
            return false;
        for (int x = 0; x < crop.Width() * scale; ++x) {
            std::uint8_t* p = row + 3 * x;
            if (unset(crop.left + x / scale, sy)) {
                p[0] = p[1] = p[2] = 40;
                continue;
            }
            const double t = grey[std::size_t(x / scale)] / 255.0;
            p[0] = static_cast<std::uint8_t>(255 * std::clamp(1.6 * t - 0.1, 0.0, 1.0));
            p[1] = static_cast<std::uint8_t>(255 * std::clamp(1.8 * t * t - 0.15, 0.0, 1.0));
            p[2] = static_cast<std::uint8_t>(255 * std::clamp(0.55 + 1.2 * t - 2.4 * t * t, 0.0, 1.0));
        }
        return true;
    });
}

// The pixels of a map of `cell` layer pixels of `pixelUm` that cover
// `area` (µm), with a margin of one map pixel.
geo::CiRect MapCrop(geo::CdRect const& area, double pixelUm, int cell)
{
    const double unit = pixelUm * cell;
    return geo::CiRect(int(area.left / unit) - 1, int(area.top / unit) - 1, int(area.right / unit) + 2,
                       int(area.bottom / unit) + 2);
}

double ResidentMiB()
{
#if defined(__linux__)
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        long pages = 0, resident = 0;
        const int read = std::fscanf(f, "%ld %ld", &pages, &resident);
        std::fclose(f);
        if (read == 2)
            return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
    }
#endif
    return 0.0;
}

// ---------------------------------------------------------------- the scan

struct tTally {
    int tiles = 0;
    double megapixels = 0;
    double pasteSeconds = 0;
    double captureSeconds = 0;
};

utl::CPropSet DeviceProperties(double magnification)
{
    auto device = boost::shared_ptr<utl::CPropSet>(new utl::CPropSet);
    device->SetProperty(120060, mem::CBin(magnification));
    utl::CPropSet props;
    props.SetProperty(10048, mem::CBin(device));
    return props;
}

// A new layer over the whole slide at `pixelUm`, the active layer.
bool CreateLayer(img::CMosaikScope& mosaic, tSlide const& slide, double magnification, double pixelUm,
                 img::EStackType type)
{
    const int w = int(std::ceil(slide.width / pixelUm)), h = int(std::ceil(slide.height / pixelUm));
    const geo::CiVolumeN volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{w, h, 1});
    const utl::TUnitValue<geo::CdRect> phys(kMicrometre, geo::CdRect(0, 0, w * pixelUm, h * pixelUm));
    return mosaic.CreateLayer(magnification, kRgb8, mem::eMemoryDefault, 2, 95, volume, phys,
                              DeviceProperties(magnification), type, true, false);
}

struct tField {
    double x, y;  // top left, µm
    int column, row;
};

// The fields of a grid over `area` (µm) in serpentine order: rows top to
// bottom, every other row right to left.
std::vector<tField> Serpentine(geo::CdRect const& area, double fieldUm)
{
    const double step = fieldUm * (1.0 - kOverlap);
    const int columns = std::max(1, int(std::ceil((area.Width() - fieldUm) / step)) + 1);
    const int rows = std::max(1, int(std::ceil((area.Height() - fieldUm) / step)) + 1);
    std::vector<tField> fields;
    for (int r = 0; r < rows; ++r)
        for (int k = 0; k < columns; ++k) {
            const int c = r % 2 == 0 ? k : columns - 1 - k;
            fields.push_back({area.left + c * step, area.top + r * step, c, r});
        }
    return fields;
}

// One line, rewritten in place on a terminal; elsewhere (a log) only the
// last state is printed.
void Progress(char const* what, int done, int total, tTally const& tally)
{
#if defined(__linux__)
    static const bool terminal = isatty(fileno(stdout)) != 0;
#else
    static const bool terminal = true;
#endif
    if (!terminal && done < total)
        return;
    std::printf("\r  %-4s %4d / %-4d fields  %7.1f MPx", what, done, total, tally.megapixels);
    std::fflush(stdout);
}

// Scans `fields` at `pixelUm` into the active layer, skipping fields the
// mask shows no sample in. `focus(field)` gives the defocus of a field.
void Scan(img::CMosaikScope& mosaic, tSlide const& slide, img::CPicture const& mask, std::vector<tField> const& fields,
          double pixelUm, char const* what, std::function<double(tField const&)> const& defocus,
          std::function<void(tField const&)> const& focused, tTally& tally)
{
    const double fieldUm = kCamera * pixelUm;
    std::vector<tField> chosen;
    for (tField const& f : fields)
        if (img::IsSampleAtPos(&mask, utl::TUnitValue<geo::CdRect>(kMicrometre, geo::CdRect(f.x, f.y, f.x + fieldUm, f.y + fieldUm)),
                               0.02))
            chosen.push_back(f);
    int done = 0;
    for (tField const& f : chosen) {
        const auto t0 = tClock::now();
        const auto tile = Capture(slide, f.x, f.y, pixelUm, kCamera, kCamera, defocus(f));
        const auto t1 = tClock::now();
        const geo::CiVecN at{int(std::lround(f.x / pixelUm)), int(std::lround(f.y / pixelUm)), 0};
        if (tile && mosaic.Paste(tile, at)) {
            ++tally.tiles;
            tally.megapixels += kCamera * kCamera / 1e6;
        }
        tally.captureSeconds += Seconds(t0, t1);
        tally.pasteSeconds += Seconds(t1);
        focused(f);
        Progress(what, ++done, int(chosen.size()), tally);
    }
    std::printf("\n");
}

// Renders `area` (µm) of the document's picture layers, bottom first, at
// `pixelUm` per output pixel.
boost::shared_ptr<img::CPixFrame> Render(img::CMosaikScope& mosaic, std::vector<int> const& layers,
                                         geo::CdRect const& area, double pixelUm)
{
    utl::TUnitValue<geo::CdVec2> scale;
    geo::CdVec2 origin;
    if (!mosaic.GetCanvasCoords(scale, origin))
        return nullptr;
    const double sx = utl::Convert(scale.value.x, scale.unit, kMicrometre);
    const double sy = utl::Convert(scale.value.y, scale.unit, kMicrometre);
    const double ox = utl::Convert(origin.x, scale.unit, kMicrometre);
    const double oy = utl::Convert(origin.y, scale.unit, kMicrometre);
    const geo::CiRect pixels(0, 0, int(area.Width() / pixelUm), int(area.Height() / pixelUm));
    const geo::CdRect canvas((area.left - ox) / sx, (area.top - oy) / sy, (area.right - ox) / sx, (area.bottom - oy) / sy);
    auto target = img::CPixFrame::Create(pixels, kRgb8, mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
    if (!target || !img::CDisplProcessFlow(mosaic.GetCollection(), false)
                        .PlayToPixFrame(target, pixels, canvas, 0, layers, img::tRenderHints()))
        return nullptr;
    return target;
}

int Fail(char const* what)
{
    std::printf("\nfailed: %s\n", what);
    return 1;
}

int RunDemo(bool quick, std::string const& folder)
{
    const auto start = tClock::now();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return Fail(("cannot make " + folder).c_str());
    const tSlide slide = MakeSlide(quick);
    std::printf("slide %.1f x %.1f mm, output in %s\n", slide.width / 1000, slide.height / 1000, folder.c_str());

    std::unique_ptr<img::CMosaikScope> mosaic(img::CreateMosaikImage());
    if (!mosaic)
        return Fail("no mosaic");
    tTally tally;

    // The overview, one camera shot at 1.25x, opaque: the first layer.
    if (!CreateLayer(*mosaic, slide, 1.25, kOverviewUm, img::eStackOverview))
        return Fail("overview layer");
    const int overview = mosaic->GetActiveLayerID();
    const geo::CiRect overviewRect = mosaic->GetBoundary();
    const auto shot = Capture(slide, 0, 0, kOverviewUm, overviewRect.Width(), overviewRect.Height(), 0);
    if (!shot || !mosaic->Paste(shot, geo::CiVecN{0, 0, 0}))
        return Fail("overview shot");
    ++tally.tiles;
    tally.megapixels += overviewRect.Area() / 1e6;
    std::printf("overview 1.25x: %d x %d pixels of %.0f um\n", overviewRect.Width(), overviewRect.Height(), kOverviewUm);

    // The sample mask: pixels darker than the bare glass.
    img::CImg maskDocument;
    boost::shared_ptr<img::CPicture> mask(img::CreatePicture(overviewRect, kGray8, mem::eMemoryDefault, mem::eAlign32,
                                                             utl::CPropSet(), utl::CPropSet(), utl::CPropSet(),
                                                             maskDocument));
    if (!mask)
        return Fail("mask picture");
    {
        std::vector<std::uint8_t> rgb(std::size_t(overviewRect.Width()) * 3), grey(std::size_t(overviewRect.Width()));
        for (int y = 0; y < overviewRect.Height(); ++y) {
            shot->ReadRect(geo::CiRect(0, y, overviewRect.Width(), y + 1), {}, rgb.data(), 0);
            for (std::size_t x = 0; x < grey.size(); ++x)
                grey[x] = 0.299 * rgb[3 * x] + 0.587 * rgb[3 * x + 1] + 0.114 * rgb[3 * x + 2] < 232 ? 255 : 0;
            mask->GetPixFrame()->WriteRowSegment(geo::CiVec2(0, y), overviewRect.Width(), grey.data(), 0);
        }
    }
    mask->SetPixelCoordsRect(utl::TUnitValue<geo::CdRect>(
        kMicrometre, geo::CdRect(0, 0, overviewRect.Width() * kOverviewUm, overviewRect.Height() * kOverviewUm)));
    if (!mosaic->AddSampleMask(mask))
        return Fail("sample mask");

    // Where to scan at 40x: a region of sample near the slide's centre; and
    // a blank field for the camera's flat-field reference.
    utl::TUnitValue<geo::CdVec2> centre, blank;
    const utl::TUnitValue<geo::CdVec2> region(kMicrometre, geo::CdVec2(slide.region[0], slide.region[1]));
    if (!img::FindSamplePos(mask.get(), centre, region, true))
        return Fail("no sample for the 40x region");
    const bool hasBlank = img::FindNoSamplePos(mask.get(), blank, utl::TUnitValue<geo::CdVec2>(kMicrometre, geo::CdVec2(512, 512)), false);
    std::printf("40x region %.0f x %.0f um around (%.0f, %.0f) um", slide.region[0], slide.region[1], centre.value.x,
                centre.value.y);
    if (hasBlank)
        std::printf("; blank reference at (%.0f, %.0f) um", blank.value.x, blank.value.y);
    std::printf("\n");

    // 10x over every field with sample, nearly in focus.
    if (!CreateLayer(*mosaic, slide, 10.0, k10xUm, img::eStackPicture))
        return Fail("10x layer");
    const int tenX = mosaic->GetActiveLayerID();
    Scan(*mosaic, slide, *mask, Serpentine(geo::CdRect(0, 0, slide.width, slide.height), kCamera * k10xUm), k10xUm,
         "10x", [](tField const&) { return 0.3; }, [](tField const&) {}, tally);

    // 40x over the region, the autofocus writing its position per field;
    // it misses now and then by a few micrometres.
    if (!CreateLayer(*mosaic, slide, 40.0, k40xUm, img::eStackPicture))
        return Fail("40x layer");
    const int fortyX = mosaic->GetActiveLayerID();
    const geo::CiRect fortyRect = mosaic->GetBoundary();
    const geo::CiRect focusRect(0, 0, (fortyRect.Width() + kFocusCell - 1) / kFocusCell,
                                (fortyRect.Height() + kFocusCell - 1) / kFocusCell);
    if (!mosaic->CreateFocusLayer(40.0, focusRect, utl::TUnitValue<geo::CdRect>(), false))
        return Fail("focus map");
    mosaic->SetFocusRange(0.0, -kFocusRangeUm, kFocusRangeUm);
    const auto miss = [](tField const& f) {
        const std::uint32_t h = Hash(f.column, f.row, 3);
        return Unit(h) < 0.12 ? (1.5 + 2.5 * Unit(h >> 5)) * (h & 1 ? 1 : -1) : 0.0;
    };
    const double fieldUm = kCamera * k40xUm;
    const geo::CdRect area(centre.value.x - slide.region[0] / 2, centre.value.y - slide.region[1] / 2,
                           centre.value.x + slide.region[0] / 2, centre.value.y + slide.region[1] / 2);
    std::vector<geo::CiVec2> focusPoints;
    Scan(*mosaic, slide, *mask, Serpentine(area, fieldUm), k40xUm, "40x", miss,
         [&](tField const& f) {
             const double cx = f.x + fieldUm / 2, cy = f.y + fieldUm / 2;
             const geo::CiVec2 point(int(cx / k40xUm / kFocusCell), int(cy / k40xUm / kFocusCell));
             mosaic->SetFocusPoint(point, Surface(cx, cy) + miss(f));
             focusPoints.push_back(point);
         },
         tally);
    const double scanSeconds = tally.pasteSeconds;

    // The sharpness map of the 40x layer, one pixel per 8 µm.
    const auto t0 = tClock::now();
    if (!mosaic->CreateSharpnessLayer(40.0, -1, kSharpnessBlock))
        return Fail("sharpness map");
    const double sharpnessSeconds = Seconds(t0);

    // Pictures.
    const std::vector<int> pictures{overview, tenX, fortyX};
    const auto whole = Render(*mosaic, pictures, geo::CdRect(0, 0, slide.width, slide.height), quick ? 2.0 : 4.0);
    const auto detail = Render(*mosaic, pictures, area, 1.0);
    if (!whole || !detail)
        return Fail("rendering");
    img::CImg& doc = mosaic->GetCollection();
    int focusLayer = -1, sharpnessLayer = -1;
    for (int id = doc.FirstStackId(); id != -1; id = doc.NextStackId(id)) {
        mem::CBin role;
        if (!doc.FindStack(id).GetProperty(2074, role))
            continue;
        if (role.GetOr(-1) == img::eStackFocusMap)
            focusLayer = id;
        else if (role.GetOr(-1) == img::eStackSharpness)
            sharpnessLayer = id;
    }
    const auto focusMap = doc.FindStack(focusLayer).GetPixFrame(utl::CIndexN());
    const auto sharpness = doc.FindStack(sharpnessLayer).GetPixFrame(utl::CIndexN());
    if (!focusMap || !sharpness)
        return Fail("maps");
    const auto path = [&](char const* name) { return (std::filesystem::path(folder) / name).string(); };
    const auto unwritten = [&](int x, int y) {
        return std::find(focusPoints.begin(), focusPoints.end(), geo::CiVec2(x, y)) == focusPoints.end();
    };
    bool written = WriteFrame(path("document.png"), *whole) && WriteFrame(path("detail-40x.png"), *detail) &&
                   WriteFrame(path("sample-mask.png"), *mask->GetPixFrame()) &&
                   WriteHeatMap(path("focus-map.png"), *focusMap, MapCrop(area, k40xUm, kFocusCell), 8, unwritten) &&
                   WriteHeatMap(path("sharpness-map.png"), *sharpness, MapCrop(area, k40xUm, kSharpnessBlock), 2,
                                [](int, int) { return false; });
    if (!written)
        return Fail("writing the pictures");

    // The whole scan as one OME-TIFF beside the pictures, opened again and
    // compared with what was saved.
    const std::string scanPath = path("scan.ome.tif");
    const auto t1 = tClock::now();
    const img::EFileResult saved = img::SaveDocument(doc, scanPath);
    if (saved != img::eFileOk)
        return Fail((std::string("saving scan.ome.tif: ") + img::DescribeFileResult(saved)).c_str());
    const double saveSeconds = Seconds(t1);
    const auto t2 = tClock::now();
    img::CImg reopened;
    const img::EFileResult opened = img::OpenDocument(scanPath, reopened);
    if (opened != img::eFileOk)
        return Fail((std::string("opening scan.ome.tif: ") + img::DescribeFileResult(opened)).c_str());
    const double openSeconds = Seconds(t2);
    std::string difference;
    if (!img::CompareDocuments(doc, reopened, &difference))
        return Fail(("the reopened scan differs: " + difference).c_str());
    // A mosaic opened on either document starts on the same layer.
    std::unique_ptr<img::CMosaikScope> onScan(img::CreateMosaikImage(&doc));
    std::unique_ptr<img::CMosaikScope> onFile(img::CreateMosaikImage(&reopened));
    if (!onScan || !onFile || onFile->GetActiveLayerID() != onScan->GetActiveLayerID())
        return Fail("the reopened mosaic starts on another layer");

    // Summary.
    std::printf("layers: %u (%d visible)\n", mosaic->GetLayerCount(), mosaic->GetVisibleLayerCount());
    std::printf("wrote document.png (%dx%d), detail-40x.png (%dx%d), sample-mask.png, focus-map.png, sharpness-map.png\n",
                whole->GetBoundary().Width(), whole->GetBoundary().Height(), detail->GetBoundary().Width(),
                detail->GetBoundary().Height());
    std::printf("tiles: %d, %.1f megapixels pasted in %.2f s (%.0f MPx/s); synthesising them took %.2f s\n",
                tally.tiles, tally.megapixels, scanSeconds, tally.megapixels / std::max(scanSeconds, 1e-9),
                tally.captureSeconds);
    std::printf("sharpness map of the 40x layer (%d x %d pixels): %.2f s\n", fortyRect.Width(), fortyRect.Height(),
                sharpnessSeconds);
    std::error_code sizeError;
    const double scanMiB = double(std::filesystem::file_size(scanPath, sizeError)) / (1024.0 * 1024.0);
    std::printf("wrote scan.ome.tif (%.1f MiB) in %.2f s; opened again in %.2f s, equal to the scan\n", scanMiB,
                saveSeconds, openSeconds);
    std::printf("read it as analysis tools do, with Debian's python3 and python3-tifffile:\n"
                "  /usr/bin/python3 -c \"import tifffile; [print(s.name, s.axes, s.shape, len(s.levels), 'levels') "
                "for s in tifffile.TiffFile('%s').series]\"\n",
                scanPath.c_str());
    std::printf("resident memory: %.0f MiB; total %.1f s\n", ResidentMiB(), Seconds(start));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    std::string folder = "imgscope-demo";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick")
            quick = true;
        else if (arg == "-h" || arg == "--help") {
            std::printf("usage: %s [--quick] [output folder]\n", argv[0]);
            return 0;
        } else
            folder = arg;
    }
    std::printf("imgscope %s: a simulated slide scan\n", img::GetLibraryVersion());
    return RunDemo(quick, folder);
}
