// Helpers of the threading tests: running a call on another thread and
// telling whether it is still held up by a lock, without letting a
// deadlock hang the test program.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

namespace threadtest {

// How long a call may take before it counts as deadlocked, and how long a
// call held up by a lock is watched before it counts as held up.
constexpr std::chrono::seconds kDeadlock{20};
constexpr std::chrono::milliseconds kHeldUp{150};

// Waits until `done` or the deadlock limit; past it the program ends, for
// a thread blocked for good cannot be joined.
inline void AwaitOrDie(std::atomic<bool> const& done, char const* what)
{
    const auto until = std::chrono::steady_clock::now() + kDeadlock;
    while (!done.load()) {
        if (std::chrono::steady_clock::now() > until) {
            std::fprintf(stderr, "deadlock: %s did not return\n", what);
            std::_Exit(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Runs `call` on a thread of its own. Finished() tells whether it returned
// yet; Join() waits for it to return (ending the program on a deadlock).
class CCallOnThread {
public:
    CCallOnThread(char const* what, std::function<void()> call)
        : m_what(what), m_thread([this, call = std::move(call)] {
              call();
              m_done = true;
          })
    {
    }
    ~CCallOnThread() { Join(); }
    CCallOnThread(CCallOnThread const&) = delete;
    CCallOnThread& operator=(CCallOnThread const&) = delete;

    bool Finished() const { return m_done.load(); }
    // True when the call is still running after kHeldUp.
    bool HeldUp() const
    {
        std::this_thread::sleep_for(kHeldUp);
        return !m_done.load();
    }
    void Join()
    {
        if (!m_thread.joinable())
            return;
        AwaitOrDie(m_done, m_what);
        m_thread.join();
    }

private:
    char const* m_what;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace threadtest
