#include "imgscope/contracts/document/render/compositor_internal.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/document/render/blend_internal.h"
#include "imgscope/contracts/document/render/colour_kernels_internal.h"
#include "imgscope/contracts/document/render/layer_plan_internal.h"
#include "imgscope/contracts/document/render/render_pool_internal.h"
#include "imgscope/contracts/document/render/vector_shapes_internal.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

namespace img {
namespace detail {

using namespace render;

namespace {

const std::uint8_t kZeroPixel[64] = {};

// Coverage runs at least this long blend at one weight (or are skipped when
// clear); shorter ones join their neighbours under per-byte weights.
constexpr int kMinConstantRun = 16;

// What every row of one render shares: the target, the clip and the
// background rows.
struct tFrameJob {
    CPixFrame* target = nullptr;
    geo::CiRect clip;
    bool rgbOrder = false;
    bool skipBackground = false;
    bool hasCanvasRect = false;
    geo::CiRect canvasPixels;
    double py = 1.0, qy = 0.0;  // target row centre → canvas pixel row
    std::vector<std::uint8_t> insideRow, borderRow;
};

// Scratch rows of one composing loop.
struct tRowBuffers {
    explicit tRowBuffers(std::size_t width)
        : out(width * 3), layerRow(width * 3 + 1), coverage(width), weights(width * 3), sum(width)
    {
    }
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> layerRow;  // one byte of slack: packed colours store four bytes
    std::vector<std::uint8_t> coverage;
    std::vector<std::uint16_t> weights;
    std::vector<tLanes> sum;
};

// One past the run of equal values that starts at k, at most `end`; eight
// bytes are compared at a time.
int RunEnd(std::uint8_t const* values, int k, int end)
{
    const std::uint8_t v = values[k];
    const std::uint64_t pattern = 0x0101010101010101ull * v;
    int e = k + 1;
    for (; e + 8 <= end; e += 8) {
        std::uint64_t word;
        std::memcpy(&word, values + e, sizeof(word));
        if (word != pattern)
            break;
    }
    while (e < end && values[e] == v)
        ++e;
    return e;
}

// Blends columns [k0, k1) of a layer row by their coverage: long runs of
// one coverage at one weight (clear runs not at all), the rest through
// per-byte weights.
void BlendByCoverage(std::uint8_t* dest, std::uint8_t const* row, std::uint8_t const* coverage, int k0, int k1,
                     tLayerPlan const& plan, std::uint16_t* weights)
{
    int mixedFrom = -1;
    const auto flushMixed = [&](int end) {
        if (mixedFrom < 0)
            return;
        for (int k = mixedFrom; k < end; ++k) {
            const std::uint16_t w = plan.weightOf[coverage[k]];
            weights[3 * k] = w;
            weights[3 * k + 1] = w;
            weights[3 * k + 2] = w;
        }
        Blend(dest + 3 * std::int64_t(mixedFrom), row + 3 * std::int64_t(mixedFrom), weights + 3 * mixedFrom,
              end - mixedFrom, plan.function, 0);
        mixedFrom = -1;
    };
    for (int k = k0; k < k1;) {
        const int e = RunEnd(coverage, k, k1);
        if (e - k >= kMinConstantRun) {
            flushMixed(k);
            if (coverage[k] != 0)
                Blend(dest + 3 * std::int64_t(k), row + 3 * std::int64_t(k), nullptr, e - k, plan.function,
                      plan.weightOf[coverage[k]]);
        } else if (mixedFrom < 0) {
            mixedFrom = k;
        }
        k = e;
    }
    flushMixed(k1);
}

// Fetches source row `y` through the view the render opened: the pixels as
// they were when the render pinned their tile row, read without any lock.
bool Fetch(CRowAccess& access, mem::CTileView const& view, int y)
{
    mem::CTileView::tCursor cursor = view.Row(y);
    return access.Fetch(y, [&](geo::CiVec2 p, std::uint8_t const*& data) { return view.Span(cursor, p, data); });
}

// Composes raster layer `plan` into output row `o` at target row `rowK`
// of the clip. Columns the coverage hides are neither coloured nor blended,
// and rows that the mask hides throughout are not even fetched.
void ComposeRasterRow(tLayerPlan& plan, int rowK, int clipLeft, std::uint8_t* o, tRowBuffers& buffers)
{
    const int y = plan.rowIndex[std::size_t(rowK)];
    if (y == INT_MIN)
        return;
    const int count = plan.x1 - plan.x0;
    std::uint8_t* coverage = buffers.coverage.data();
    bool partial = false;  // coverage holds per-pixel values
    if (plan.mask) {
        if (!plan.MaskRowMayShow(y) || plan.maskAccess.Empty())
            return;  // wholly transparent here
        if (!Fetch(plan.maskAccess, *plan.maskView, y))
            return;
        plan.maskAccess.CopyBytes(coverage, 0, count);
        partial = true;
    }
    for (tSource& src : plan.sources)
        if (!Fetch(src.access, *src.view, y))
            return;
    // Alpha first, so that the columns that can show are known before any
    // colour is made.
    for (tSource const& src : plan.sources) {
        if (src.alphaComponent >= 0) {
            ByType<KCoverage>(src, 0, count, coverage, partial);
            partial = true;
        }
    }
    int k0 = 0, k1 = count;
    if (partial) {
        while (k0 < k1 && coverage[k0] == 0)
            ++k0;
        while (k1 > k0 && coverage[k1 - 1] == 0)
            --k1;
        if (k0 == k1)
            return;
    }
    // A display filter sees the layer's whole row, as it always has.
    const int c0 = plan.filter ? 0 : k0, c1 = plan.filter ? count : k1;

    std::uint8_t* row = buffers.layerRow.data();
    tSource const& first = plan.sources[0];
    if (plan.sources.size() == 1 && first.mode == eModePacked) {
        ByType<KPacked>(first, c0, c1, row);
    } else if (plan.sources.size() == 1 && first.mode == eModeBytes) {
        if (!first.allLanesLit)
            std::memset(row + 3 * std::int64_t(c0), 0, std::size_t(c1 - c0) * 3);
        ByType<KBytes>(first, c0, c1, row);
    } else {
        tLanes* sum = buffers.sum.data();
        std::fill(sum + c0, sum + c1, tLanes(0));
        for (tSource const& src : plan.sources)
            ByType<KSum>(src, c0, c1, sum);
        for (int k = c0; k < c1; ++k) {
            row[3 * k] = Clamp8(sum[k]);
            row[3 * k + 1] = Clamp8(sum[k] >> 16);
            row[3 * k + 2] = Clamp8(sum[k] >> 32);
        }
    }
    if (plan.filter)
        plan.filter->Apply(row, count);

    std::uint8_t* dest = o + std::int64_t(plan.x0 - clipLeft) * 3;
    if (partial)
        BlendByCoverage(dest, row, coverage, k0, k1, plan, buffers.weights.data());
    else
        Blend(dest, row, nullptr, count, plan.function, plan.weight);
}

// Composes target rows [y0, y1) of the clip, each layer in turn over the
// background, and writes them into the target. Rows are independent of one
// another: a range can go to any thread that has plans and buffers of its own.
bool ComposeRows(tFrameJob const& job, std::vector<tLayerPlan>& plans, int y0, int y1, tRowBuffers& buffers)
{
    const int width = job.clip.Width();
    const std::size_t rowBytes = std::size_t(width) * 3;
    for (int j = y0; j < y1; ++j) {
        std::uint8_t* o = buffers.out.data();
        if (job.skipBackground) {
            if (!job.target->ReadRowSegment(geo::CiVec2(job.clip.left, j), width, o, 0))
                return false;
            if (job.rgbOrder)
                for (int i = 0; i < width; ++i)
                    std::swap(o[3 * i], o[3 * i + 2]);
        } else {
            const double c = (j + 0.5) * job.py + job.qy;
            const bool insideY =
                !job.hasCanvasRect || (c >= job.canvasPixels.top && c < job.canvasPixels.bottom);
            std::memcpy(o, insideY ? job.insideRow.data() : job.borderRow.data(), rowBytes);
        }

        const int rowK = j - job.clip.top;
        for (tLayerPlan& plan : plans) {
            if (plan.isVector)
                DrawShapesRow(plan, j, o, job.clip.left, job.clip.right);
            else
                ComposeRasterRow(plan, rowK, job.clip.left, o, buffers);
        }

        if (job.rgbOrder)
            for (int i = 0; i < width; ++i)
                std::swap(o[3 * i], o[3 * i + 2]);
        if (!job.target->WriteRowSegment(geo::CiVec2(job.clip.left, j), width, o, 0))
            return false;
    }
    return true;
}

// Rows of one render: first the plans, made under the tree's lock, then
// the rows, which need no lock and may go to several threads.
struct tRender {
    tFrameJob job;
    std::vector<tLayerPlan> plans;
};

// Plans every drawn layer and the background rows; the tree's lock is held
// throughout, so the render sees one state of the tree; the views it opens
// show every paste into a layer's pixels whole or not at all. False for the
// argument errors of Compose.
bool Plan(tFlow const& flow, boost::shared_ptr<CPixFrame> const& target, geo::CiRect const& pixelRect,
          geo::CdRect const& canvasRect, std::vector<int> const& layerIds, tRenderHints const& hints, tRender& render)
{
    CPixelInfo const& targetInfo = target->GetPixelInfo();
    if (targetInfo.GetElementType() != utl::eUInt8 || targetInfo.GetComponentCount() != 3 || targetInfo.HasAlpha())
        return false;
    if (pixelRect.IsEmpty() || !(canvasRect.Width() > 0.0) || !(canvasRect.Height() > 0.0) ||
        !std::isfinite(canvasRect.left) || !std::isfinite(canvasRect.top) || !std::isfinite(canvasRect.right) ||
        !std::isfinite(canvasRect.bottom))
        return false;
    const geo::CiRect clip = geo::Intersection(pixelRect, target->GetBoundary(0));
    if (clip.IsEmpty())
        return false;

    const auto guard = Reading(*flow.state->lock);
    tFlowState const& state = *flow.state;
    tCanvas const& canvas = state.canvas;

    // Target pixel centre u → canvas pixel → calibrated canvas coordinate.
    tView view;
    view.clip = clip;
    // In doubles: the extent of a rectangle spanning the int range overflows int.
    const double px = canvasRect.Width() / (double(pixelRect.right) - double(pixelRect.left));
    const double py = canvasRect.Height() / (double(pixelRect.bottom) - double(pixelRect.top));
    const double qx = canvasRect.left - pixelRect.left * px;
    const double qy = canvasRect.top - pixelRect.top * py;
    const double csx = canvas.calibrated ? canvas.scale.x : 1.0;
    const double csy = canvas.calibrated ? canvas.scale.y : 1.0;
    const double cox = canvas.calibrated ? canvas.origin.x : 0.0;
    const double coy = canvas.calibrated ? canvas.origin.y : 0.0;
    view.kx = px * csx;
    view.cx = qx * csx + cox;
    view.ky = py * csy;
    view.cy = qy * csy + coy;

    const int width = clip.Width();
    const std::size_t rowPixels = static_cast<std::size_t>(width);

    // Plans: per layer the tables, the column and row maps and its state,
    // made once so that the row loop looks nothing up.
    std::vector<tLayerPlan>& plans = render.plans;
    if (flow.document) {
        for (tDrawn const& d : DrawnLayers(state, layerIds)) {
            const CStack stack = flow.document->FindStack(d.layerId);
            if (!stack.IsValid())
                continue;
            geo::CdVec2 o, s;
            if (!LayerToCanvas(flow, d.layerId, canvas, o, s))
                continue;
            tLayerPlan plan;
            plan.SetWeight(unsigned(std::lround(OpacityOf(*d.entry) * d.groupOpacity * 256.0)));
            if (!hints.ignoreMasks && d.entry->mask)
                PlanMask(d.entry->mask, plan);
            const std::vector<int> channels = ChannelsOf(stack);
            for (int c : channels) {
                if (ChannelVisible(*d.entry, c)) {
                    auto it = d.entry->channels.find(c);
                    plan.function = it == d.entry->channels.end() ? eFunctionNormal : it->second.function;
                    break;
                }
            }
            plan.filter = d.entry->filter;

            if (stack.GetLayerType() == eLayerTypeVector) {
                PlanVector(stack, *d.entry, view, o.x, s.x, o.y, s.y, plan);
                if (!plan.isVector)
                    continue;
            } else {
                geo::CiRect bounds;
                if (!PlanRaster(*d.entry, stack, plan, bounds))
                    continue;
                for (tSource& src : plan.sources)
                    FinishTables(src, plan.sources.size() == 1);
                const std::vector<int> columns = ColumnsOf(view, o.x, s.x, bounds.left, bounds.right, plan.x0, plan.x1);
                if (columns.empty())
                    continue;
                plan.rowIndex = RowsOf(view, o.y, s.y, bounds.top, bounds.bottom);
                OpenViews(plan, columns);
                for (tSource& src : plan.sources)
                    src.access.Setup(columns, src.pixelBytes, kZeroPixel);
                if (plan.mask) {
                    std::vector<int> maskColumns = columns;
                    for (int& x : maskColumns)
                        if (x < plan.maskBounds.left || x >= plan.maskBounds.right)
                            x = INT_MIN;
                    plan.maskAccess.Setup(maskColumns, 1, kZeroPixel);
                }
            }
            plans.push_back(std::move(plan));
        }
    }
    // Background: canvas pixels inside the canvas's pixel rectangle take the
    // background colour, those outside the border colour. Both kinds of
    // row are made once and copied.
    tFrameJob& job = render.job;
    job.target = target.get();
    job.clip = clip;
    job.rgbOrder = targetInfo.GetColorSpace() == eColorSpaceRGB;
    job.skipBackground = hints.skipBackground;
    job.hasCanvasRect = !canvas.pixelRect.IsEmpty();
    job.canvasPixels = canvas.pixelRect;
    job.py = py;
    job.qy = qy;
    job.insideRow.resize(rowPixels * 3);
    job.borderRow.resize(rowPixels * 3);
    for (int i = 0; i < width; ++i) {
        const double c = (clip.left + i + 0.5) * px + qx;
        const bool inside = !job.hasCanvasRect || (c >= canvas.pixelRect.left && c < canvas.pixelRect.right);
        CCanvasColor const& colour = inside ? canvas.background : canvas.border;
        for (int k = 0; k < 3; ++k) {
            job.insideRow[std::size_t(3 * i + k)] = colour[k];
            job.borderRow[std::size_t(3 * i + k)] = canvas.border[k];
        }
    }
    return true;
}

// Pins what rows [0, end) of the clip read in each layer's views. The mask
// pins every tile row over the source rows the layer's pixels pin, and
// before them: a paste writes pixels first and its mask after, so a render
// that shows a paste's mask shows its pixels too.
void PinRows(std::vector<tLayerPlan> const& plans, std::size_t end)
{
    for (tLayerPlan const& plan : plans) {
        int top = INT_MAX, bottom = INT_MIN;
        for (tSource const& src : plan.sources) {
            if (!src.view)
                continue;
            int t = 0, b = 0;
            src.view->Extent(end, t, b);
            top = std::min(top, t);
            bottom = std::max(bottom, b);
        }
        if (plan.maskView)
            plan.maskView->Pin(end, top, bottom);
        for (tSource const& src : plan.sources)
            if (src.view)
                src.view->Pin(end, top, bottom);
    }
}

// Rows per band handed to a thread: small enough that threads finish
// together, large enough that each band's first row, which works its span
// layouts out again, stays a small share.
int BandRows(int rows, int threads)
{
    return std::clamp(rows / (threads * 8), 8, 64);
}

std::function<void(int)> g_progressHook;

// The bands of a render finished so far. Once every band below one is
// finished, no later row reads what only their rows read: the views let
// those tiles go, so that an acquisition writing into them need not copy
// them first.
class CProgress {
public:
    CProgress(std::vector<tLayerPlan> const& plans, int rows, int band)
        : m_rows(rows), m_band(band), m_finished(std::size_t((rows + band - 1) / band), false)
    {
        for (tLayerPlan const& plan : plans) {
            if (plan.maskView)
                m_views.push_back(plan.maskView.get());
            for (tSource const& src : plan.sources)
                if (src.view)
                    m_views.push_back(src.view.get());
        }
    }

    void Finished(int b)
    {
        int done;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished[std::size_t(b)] = true;
            if (b != m_lowest)
                return;
            while (m_lowest < int(m_finished.size()) && m_finished[std::size_t(m_lowest)])
                ++m_lowest;
            done = std::min(m_lowest * m_band, m_rows);
        }
        // Outside the lock: views lock their stores, and a later call with a
        // larger count overtaking this one leaves nothing for it to do.
        for (mem::CTileView const* view : m_views)
            view->Release(std::size_t(done));
        if (g_progressHook)
            g_progressHook(done);
    }

private:
    const int m_rows;
    const int m_band;
    std::vector<mem::CTileView const*> m_views;
    std::mutex m_mutex;
    std::vector<bool> m_finished;
    int m_lowest = 0;  // the lowest band not finished
};

// Composes the clip's rows, split into bands over the render pool's
// threads. Every thread but the calling one works on a copy of the plans
// (their row access keeps state) with buffers of its own; rows do not
// depend on one another, so the output is the same for any thread count.
bool ComposeAll(tRender& render)
{
    tFrameJob const& job = render.job;
    const int rows = job.clip.Height();
    const std::size_t width = std::size_t(job.clip.Width());
    CRenderPool& pool = CRenderPool::Instance();
    const int threads = std::min(pool.Threads(), (rows + 7) / 8);
    const int band = BandRows(rows, threads);
    const int bands = (rows + band - 1) / band;
    CProgress progress(render.plans, rows, band);
    const auto composeBand = [&](std::vector<tLayerPlan>& plans, int b, tRowBuffers& buffers) {
        const int y0 = job.clip.top + b * band;
        PinRows(plans, std::size_t(std::min(y0 + band, job.clip.bottom) - job.clip.top));
        if (!ComposeRows(job, plans, y0, std::min(y0 + band, job.clip.bottom), buffers))
            return false;
        progress.Finished(b);
        return true;
    };
    if (threads <= 1) {
        tRowBuffers buffers(width);
        for (int b = 0; b < bands; ++b)
            if (!composeBand(render.plans, b, buffers))
                return false;
        return true;
    }
    // Copied before any row runs: the calling thread's rows change its plans.
    std::vector<std::vector<tLayerPlan>> copies(std::size_t(threads - 1), render.plans);
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    pool.Run(threads, [&](int worker) {
        try {
            std::vector<tLayerPlan>& plans = worker == 0 ? render.plans : copies[std::size_t(worker - 1)];
            tRowBuffers buffers(width);
            for (int b = next++; b < bands && !failed.load(std::memory_order_relaxed); b = next++)
                if (!composeBand(plans, b, buffers))
                    failed = true;
        } catch (std::exception const&) {
            failed = true;  // out of memory for buffers or row spans
        }
    });
    return !failed;
}

}  // namespace

void SetRenderProgressHook(std::function<void(int)> hook)
{
    g_progressHook = std::move(hook);
}

bool Compose(tFlow const& flow, boost::shared_ptr<CPixFrame> const& target, geo::CiRect const& pixelRect,
             geo::CdRect const& canvasRect, std::vector<int> const& layerIds, tRenderHints const& hints)
{
    if (!target)
        return false;
    tRender render;
    if (!Plan(flow, target, pixelRect, canvasRect, layerIds, hints, render))
        return false;
    return ComposeAll(render);
}

}  // namespace detail
}  // namespace img
