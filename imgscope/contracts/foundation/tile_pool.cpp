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

struct tClass {
    std::vector<std::uint8_t*> warm;  // freed, pages resident
    std::vector<std::uint8_t*> cold;  // freed and trimmed: zero, not resident
    std::uint8_t* next = nullptr;     // unused rest of the newest arena
    std::uint8_t* end = nullptr;
};

struct tState {
    std::mutex mutex;
    std::map<std::size_t, tClass> classes;
    std::size_t live = 0;
    std::size_t pooled = 0;
    std::size_t mapped = 0;
};

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

CTilePool::tBlock CTilePool::Acquire(std::size_t bytes, int budgetPercent)
{
    const std::size_t size = BlockSize(bytes);
    tState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);

    const int percent = std::clamp(budgetPercent, 1, 100);
    const std::size_t budget = PhysicalBytes() / 100 * static_cast<std::size_t>(percent);
    if (s.live + size > budget || s.live + size < s.live)
        return {};

    tClass& c = s.classes[size];
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
        block.zeroed = true;
    }
    s.live += size;
    IMGSCOPE_UNPOISON(block.data, size);
    return block;
}

void CTilePool::Release(std::uint8_t* data, std::size_t bytes)
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
    s.classes[size].warm.push_back(data);
    s.live -= size;
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
