#include "imgscope/contracts/document/render/render_pool_internal.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <system_error>

namespace img {
namespace detail {

namespace {

std::atomic<int> g_override{0};

// Set on the pool's own threads: a render started from one of them (a
// display filter that renders) runs there alone instead of waiting for
// the pool it is part of.
thread_local bool t_isWorker = false;

int FromEnvironment()
{
    static const int threads = [] {
        int n = 0;
        if (char const* text = std::getenv("IMGSCOPE_THREADS")) {
            try {
                std::size_t used = 0;
                n = std::stoi(text, &used);
                if (used != std::string(text).size())
                    n = 0;
            } catch (std::exception const&) {
                n = 0;  // not a number: as if unset
            }
        }
        if (n <= 0)
            n = static_cast<int>(std::thread::hardware_concurrency());
        return std::clamp(n, 1, CRenderPool::kMaxThreads);
    }();
    return threads;
}

}  // namespace

CRenderPool& CRenderPool::Instance()
{
    static CRenderPool pool;
    return pool;
}

CRenderPool::~CRenderPool()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

int CRenderPool::Threads() const
{
    const int forced = g_override.load(std::memory_order_relaxed);
    return forced > 0 ? std::min(forced, kMaxThreads) : FromEnvironment();
}

int CRenderPool::Workers(int count)
{
    try {
        while (static_cast<int>(m_threads.size()) < count)
            m_threads.emplace_back([this] { Work(); });
    } catch (std::exception const&) {
        // The system gives no more threads (or no memory to track them):
        // the render goes on with those there are.
    }
    return static_cast<int>(m_threads.size());
}

void CRenderPool::Run(int count, std::function<void(int)> const& body)
{
    if (count <= 1 || t_isWorker) {
        body(0);
        return;
    }
    std::unique_lock<std::mutex> busy(m_busy, std::try_to_lock);
    if (!busy.owns_lock()) {
        body(0);  // another render has the workers: this one goes alone
        return;
    }
    const int workers = std::min(Workers(count - 1), count - 1);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pBody = &body;
        m_wanted = workers;
        m_next = 0;
        m_running = 0;
    }
    m_wake.notify_all();
    body(0);
    std::unique_lock<std::mutex> lock(m_mutex);
    // Bodies not started yet are not waited for: the calling thread's
    // body has taken all the work there was.
    m_wanted = m_next;
    m_done.wait(lock, [this] { return m_running == 0; });
    m_pBody = nullptr;
}

void CRenderPool::Work()
{
    t_isWorker = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || m_next < m_wanted; });
        if (m_stop)
            return;
        const int index = ++m_next;
        ++m_running;
        std::function<void(int)> const& body = *m_pBody;
        lock.unlock();
        body(index);
        lock.lock();
        if (--m_running == 0)
            m_done.notify_all();
    }
}

void SetRenderThreads(int threads)
{
    g_override.store(threads > 0 ? threads : 0, std::memory_order_relaxed);
}

}  // namespace detail
}  // namespace img
