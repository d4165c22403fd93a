// The worker threads that share the rows of a render. Not installed.
#pragma once

#include "imgscope/library/export.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace img {
namespace detail {

// A small pool owned by the library. Its threads start with the first
// render that can use them, never at load, and end when the library is
// unloaded.
class CRenderPool {
public:
    static CRenderPool& Instance();

    // Threads a render may use, the calling one included: the override of
    // SetRenderThreads, else IMGSCOPE_THREADS, else the number of cores;
    // 1 renders on the calling thread alone. At most kMaxThreads.
    int Threads() const;

    // Calls body(0) on the calling thread and body(1) … body(count − 1) on
    // workers, and returns when all have returned. When the workers serve
    // another render (or this is one of them) only body(0) runs, so bodies
    // must take their work from a shared counter until none is left. A body
    // must not throw.
    void Run(int count, std::function<void(int)> const& body);

    ~CRenderPool();
    CRenderPool(CRenderPool const&) = delete;
    CRenderPool& operator=(CRenderPool const&) = delete;

    static constexpr int kMaxThreads = 64;

private:
    CRenderPool() = default;
    void Work();
    // Starts workers up to `count`; fewer when the system refuses threads.
    int Workers(int count);

    std::mutex m_busy;  // held by the render that has the workers
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::thread> m_threads;
    std::function<void(int)> const* m_pBody = nullptr;
    int m_wanted = 0;     // bodies of the current round handed to workers
    int m_next = 0;       // the next of them to start
    int m_running = 0;    // started and not yet returned
    bool m_stop = false;
};

// Sets the number of render threads, overriding IMGSCOPE_THREADS; 0 or
// less goes back to it. For tests and benchmarks that compare thread
// counts in one process; exported, but not part of the installed interface.
IMGSCOPE_API void SetRenderThreads(int threads);

// Called by every render once the first `rows` rows of its clip are drawn
// and its views have let go of the tiles only those rows read. It runs on
// the render thread that finished the band; with several threads, calls
// may overlap and come out of order. For tests that change a document at
// a known point of a render; set it while no render runs. Empty: none.
IMGSCOPE_API void SetRenderProgressHook(std::function<void(int rows)> hook);

}  // namespace detail
}  // namespace img
