#include "tests/alloc/failing_allocator.h"

#include "imgscope/contracts/foundation/tile_pool_internal.h"

#include <cstdlib>
#include <new>

namespace {

// Plain globals: the library starts no threads, and the test runs on one.
std::int64_t g_countdown = 0;  // allocations until the failure point; 0: disarmed
bool g_fromOn = false;
bool g_failing = false;  // the point was reached (and, from-on, stays reached)
bool g_fired = false;
std::int64_t g_live = 0;

bool ShouldFail()
{
    if (g_failing)
        return true;
    if (g_countdown == 0 || --g_countdown != 0)
        return false;
    g_fired = true;
    g_failing = g_fromOn;
    return true;
}

void* Allocate(std::size_t size, std::size_t alignment, bool nothrow)
{
    if (ShouldFail()) {
        if (nothrow)
            return nullptr;
        throw std::bad_alloc();
    }
    if (size == 0)
        size = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(size);
    } else if (posix_memalign(&p, alignment, size) != 0) {
        p = nullptr;
    }
    if (!p) {
        if (nothrow)
            return nullptr;
        throw std::bad_alloc();
    }
    ++g_live;
    return p;
}

void Free(void* p) noexcept
{
    if (!p)
        return;
    --g_live;
    std::free(p);
}

}  // namespace

// Every replaceable form, so that no allocation of the library escapes the
// count or the failure point.
void* operator new(std::size_t n) { return Allocate(n, 0, false); }
void* operator new[](std::size_t n) { return Allocate(n, 0, false); }
void* operator new(std::size_t n, std::nothrow_t const&) noexcept { return Allocate(n, 0, true); }
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept { return Allocate(n, 0, true); }
void* operator new(std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a), false); }
void* operator new[](std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a), false); }
void* operator new(std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept
{
    return Allocate(n, static_cast<std::size_t>(a), true);
}
void* operator new[](std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept
{
    return Allocate(n, static_cast<std::size_t>(a), true);
}

void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { Free(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { Free(p); }
void operator delete(void* p, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::align_val_t, std::nothrow_t const&) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t, std::nothrow_t const&) noexcept { Free(p); }

namespace alloctest {

namespace {

// A workload that still reaches its failure point after this many runs
// allocates without end; the sweep stops there instead of running on.
constexpr std::int64_t kMaxPoints = 20000;

std::int64_t g_tileTarget = 0;  // acquire count at which the tile point is reached

}  // namespace

void Arm(std::int64_t nth, EFailure mode)
{
    g_countdown = nth;
    g_fromOn = mode == EFailure::eFromOn;
    g_failing = false;
    g_fired = false;
}

bool Disarm()
{
    g_countdown = 0;
    g_failing = false;
    return g_fired;
}

std::int64_t LiveBlocks()
{
    return g_live;
}

void SweepOperatorNew(std::function<bool(std::int64_t, EFailure)> const& run)
{
    run(0, EFailure::eOnce);  // settles what the library makes once per process
    for (EFailure mode : {EFailure::eOnce, EFailure::eFromOn}) {
        for (std::int64_t n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << (mode == EFailure::eOnce ? " fails" : " on fail"));
            const std::int64_t before = LiveBlocks();
            const std::size_t tiles = mem::GetTilePoolStats().liveBytes;
            const bool reached = run(n, mode);
            EXPECT_EQ(LiveBlocks(), before) << "blocks leaked";
            EXPECT_EQ(mem::GetTilePoolStats().liveBytes, tiles) << "tiles leaked";
            if (!reached || testing::Test::HasFatalFailure() || n >= kMaxPoints) {
                EXPECT_LT(n, kMaxPoints);
                break;
            }
        }
    }
}

void ArmTiles(std::int64_t nth)
{
    g_tileTarget = mem::detail::GetTileAcquireCount() + nth;
    mem::detail::SetTileFailurePoint(nth);
}

bool DisarmTiles()
{
    mem::detail::SetTileFailurePoint(0);
    return mem::detail::GetTileAcquireCount() >= g_tileTarget;
}

void SweepTileAcquires(std::function<bool(std::int64_t)> const& run)
{
    for (std::int64_t n = 1;; ++n) {
        SCOPED_TRACE(testing::Message() << "tile " << n << " fails");
        const std::int64_t before = LiveBlocks();
        const mem::tTilePoolStats tiles = mem::GetTilePoolStats();
        const bool reached = run(n);
        EXPECT_EQ(LiveBlocks(), before) << "blocks leaked";
        const mem::tTilePoolStats after = mem::GetTilePoolStats();
        EXPECT_EQ(after.liveBytes, tiles.liveBytes) << "tiles leaked";
        if (!reached || testing::Test::HasFatalFailure() || n >= kMaxPoints) {
            EXPECT_LT(n, kMaxPoints);
            break;
        }
    }
}

std::vector<std::uint8_t> Pixels(mem::CDataFrame const& frame, geo::CiVecN const& plane)
{
    const geo::CiRect r = frame.GetBoundary().Reduce();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(r.Area()) * frame.GetElementInfo().Size());
    if (!frame.ReadRect(r, plane, out.data(), 0))
        out.clear();
    return out;
}

}  // namespace alloctest
