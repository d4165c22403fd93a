#include "imgscope/contracts/foundation/tile_pool_internal.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define IMGSCOPE_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define IMGSCOPE_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define IMGSCOPE_POISON(p, n) ((void)(p), (void)(n))
#define IMGSCOPE_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace mem::detail {

namespace {

std::size_t PageSize()
{
    static const std::size_t size = [] {
        long v = sysconf(_SC_PAGESIZE);
        return v > 0 ? static_cast<std::size_t>(v) : std::size_t(4096);
    }();
    return size;
}

std::size_t PhysicalBytes()
{
    static const std::size_t bytes = [] {
        long pages = sysconf(_SC_PHYS_PAGES);
        return pages > 0 ? static_cast<std::size_t>(pages) * PageSize() : std::size_t(1) << 34;
    }();
    return bytes;
}

// Blocks of one size are carved from arenas reserved in one go: one mapping
// per arena keeps the number of kernel mappings small even for millions of
// small tiles, and pages of an arena cost memory only once touched.
constexpr std::size_t kArenaBytes = std::size_t(64) << 20;

std::size_t BudgetBytes(int budgetPercent)
{
    return PhysicalBytes() / 100 * static_cast<std::size_t>(std::clamp(budgetPercent, 1, 100));
}

struct tClass {
    std::vector<std::uint8_t*> warm;  // freed, pages resident
    std::vector<std::uint8_t*> cold;  // freed and trimmed: zero, not resident
    std::uint8_t* next = nullptr;     // unused rest of the newest arena
    std::uint8_t* end = nullptr;
    // Blocks carved so far. Both free lists keep room for all of them, so
    // that giving a block back (from destructors too) never allocates.
    std::size_t blocks = 0;
};

struct tState {
    std::mutex mutex;
    std::map<std::size_t, tClass> classes;
    std::size_t live = 0;
    std::size_t pooled = 0;
    std::size_t mapped = 0;
    std::int64_t acquires = 0;     // calls of Acquire, for the failure point
    std::int64_t failAt = 0;       // Acquire number that fails; 0: none
};

// Room in both free lists for one more block of the class.
bool ReserveFor(tClass& c)
{
    const std::size_t want = c.blocks + 1;
    try {
        for (auto* list : {&c.warm, &c.cold})
            if (list->capacity() < want)
                list->reserve(std::max<std::size_t>(want, 2 * list->capacity()));
    } catch (std::bad_alloc const&) {
        return false;
    }
    return true;
}

tState& State()
{
    // Never destroyed: frames held by static objects may free tiles during
    // exit, after a function-local static would be gone.
    static tState* state = new tState;
    return *state;
}

void* MapFresh(std::size_t bytes)
{
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

CTilePool& CTilePool::Instance()
{
    static CTilePool pool;
    return pool;
}

std::size_t CTilePool::BlockSize(std::size_t bytes)
{
    const std::size_t page = PageSize();
    if (bytes == 0)
        return page;
    return (bytes + page - 1) / page * page;
}

bool CTilePool::Fits(std::int64_t count, std::size_t bytes, int budgetPercent) const
{
    if (count <= 0)
        return true;
    std::size_t need = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(count), BlockSize(bytes), &need))
        return false;
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::size_t budget = BudgetBytes(budgetPercent);
    return s.live <= budget && need <= budget - s.live;
}

CTilePool::tBlock CTilePool::Acquire(std::size_t bytes, int budgetPercent)
{
    const std::size_t size = BlockSize(bytes);
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);

    const std::size_t budget = BudgetBytes(budgetPercent);
    if (s.live + size > budget || s.live + size < s.live)
        return {};
    if (++s.acquires == s.failAt)
        return {};

    auto found = s.classes.find(size);
    if (found == s.classes.end()) {
        try {
            found = s.classes.emplace(size, tClass()).first;
        } catch (std::bad_alloc const&) {
            return {};
        }
    }
    tClass& c = found->second;
    tBlock block;
    if (!c.warm.empty()) {
        block.data = c.warm.back();
        c.warm.pop_back();
        s.pooled -= size;
    } else if (!c.cold.empty()) {
        block.data = c.cold.back();
        c.cold.pop_back();
        block.zeroed = true;
    } else {
        if (!ReserveFor(c))
            return {};
        if (c.next == nullptr || static_cast<std::size_t>(c.end - c.next) < size) {
            const std::size_t arena = size >= kArenaBytes ? size : kArenaBytes / size * size;
            void* p = MapFresh(arena);
            if (!p)
                return {};
            s.mapped += arena;
            c.next = static_cast<std::uint8_t*>(p);
            c.end = c.next + arena;
        }
        block.data = c.next;
        c.next += size;
        ++c.blocks;
        block.zeroed = true;
    }
    s.live += size;
    IMGSCOPE_UNPOISON(block.data, size);
    return block;
}

void CTilePool::Release(std::uint8_t* data, std::size_t bytes, bool discard)
{
    if (!data)
        return;
    const std::size_t size = BlockSize(bytes);
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    // Under the address sanitizer a pooled block is poisoned, so a tile
    // pointer kept past its tile's life is reported instead of reading
    // another tile's pixels.
    IMGSCOPE_POISON(data, size);
    tClass& c = s.classes.find(size)->second;  // made by the Acquire of the block
    s.live -= size;
    if (discard) {
        madvise(data, size, MADV_DONTNEED);
        c.cold.push_back(data);
        return;
    }
    c.warm.push_back(data);
    s.pooled += size;
}

tTilePoolStats CTilePool::Stats() const
{
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    tTilePoolStats stats;
    stats.liveBytes = s.live;
    stats.pooledBytes = s.pooled;
    stats.mappedBytes = s.mapped;
    return stats;
}

void CTilePool::Trim(std::size_t keepBytes)
{
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    // Largest blocks first: they give most back per call.
    for (auto it = s.classes.rbegin(); it != s.classes.rend() && s.pooled > keepBytes; ++it) {
        const std::size_t size = it->first;
        tClass& c = it->second;
        while (!c.warm.empty() && s.pooled > keepBytes) {
            std::uint8_t* p = c.warm.back();
            c.warm.pop_back();
            // The range stays mapped (no mapping is split); its pages go back
            // to the system and read as zero when touched again.
            IMGSCOPE_UNPOISON(p, size);
            madvise(p, size, MADV_DONTNEED);
            IMGSCOPE_POISON(p, size);
            c.cold.push_back(p);
            s.pooled -= size;
        }
    }
}

void SetTileFailurePoint(std::int64_t nth)
{
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failAt = nth > 0 ? s.acquires + nth : 0;
}

std::int64_t GetTileAcquireCount()
{
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.acquires;
}

}  // namespace mem::detail

namespace mem {

tTilePoolStats GetTilePoolStats()
{
    return detail::CTilePool::Instance().Stats();
}

void TrimTilePool(std::size_t keepBytes)
{
    detail::CTilePool::Instance().Trim(keepBytes);
}

}  // namespace mem
