#include "imgscope/contracts/document/record_lock_internal.h"

#include "imgscope/contracts/document/document_internal.h"

#include <cassert>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace img {
namespace detail {

namespace {

// The record locks one thread holds, innermost last, and the change
// messages waiting for it to hold none. Guards nest strictly, so the list
// is a stack; a few entries deep at most (document, stack, another stack).
struct tThreadLocks {
    static constexpr int kMaxHeld = 16;
    CRecordLock* held[kMaxHeld] = {};
    bool exclusive[kMaxHeld] = {};
    int count = 0;
    std::vector<std::pair<boost::shared_ptr<CNotifier>, EChange>> waiting;
};

thread_local tThreadLocks t_locks;

// Delivers what waited, in the order it happened. A subscriber may change
// the document again: its own messages go out when its calls return, before
// the rest of this list, as they would have without the lock.
void DeliverWaiting(tThreadLocks& t)
{
    while (!t.waiting.empty()) {
        std::vector<std::pair<boost::shared_ptr<CNotifier>, EChange>> batch;
        batch.swap(t.waiting);
        for (auto& [notifier, change] : batch) {
            try {
                notifier->Deliver(change);
            } catch (...) {
                // Out of memory for the list of subscribers: runs in a destructor.
            }
        }
    }
}

}  // namespace

CRecordLock::CRecordLock()
{
    pthread_rwlockattr_t attr;
    pthread_rwlockattr_init(&attr);
#if defined(__GLIBC__)
    // A waiting writer holds off new readers. Safe here because a thread
    // never takes a read lock it already holds (CRecordGuard passes through).
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
#endif
    pthread_rwlock_init(&m_lock, &attr);
    pthread_rwlockattr_destroy(&attr);
}

CRecordLock::~CRecordLock()
{
    pthread_rwlock_destroy(&m_lock);
}

CRecordGuard::CRecordGuard(CRecordLock* lock, bool exclusive) : m_pTaken(nullptr)
{
    if (!lock)
        return;
    tThreadLocks& t = t_locks;
    for (int i = t.count - 1; i >= 0; --i) {
        if (t.held[i] == lock) {
            // A change inside a read of the same record would have to upgrade,
            // which deadlocks against a second reader doing the same.
            if (exclusive && !t.exclusive[i])
                throw std::logic_error("record lock: a change nested in a read of the same record");
            return;
        }
    }
    if (t.count == tThreadLocks::kMaxHeld)
        throw std::logic_error("record lock: nested too deeply");
    if (exclusive)
        pthread_rwlock_wrlock(&lock->m_lock);
    else
        pthread_rwlock_rdlock(&lock->m_lock);
    t.held[t.count] = lock;
    t.exclusive[t.count] = exclusive;
    ++t.count;
    m_pTaken = lock;
}

CRecordGuard::~CRecordGuard()
{
    if (!m_pTaken)
        return;
    tThreadLocks& t = t_locks;
    // Guards of calls end innermost first; a CDocumentLock a caller holds
    // may end in any order, so look for it.
    int i = t.count - 1;
    while (i > 0 && t.held[i] != m_pTaken)
        --i;
    assert(t.count > 0 && t.held[i] == m_pTaken);
    for (; i + 1 < t.count; ++i) {
        t.held[i] = t.held[i + 1];
        t.exclusive[i] = t.exclusive[i + 1];
    }
    --t.count;
    pthread_rwlock_unlock(&m_pTaken->m_lock);
    if (t.count == 0 && !t.waiting.empty())
        DeliverWaiting(t);
}

bool DeferWhileLocked(boost::shared_ptr<CNotifier> const& notifier, EChange change)
{
    tThreadLocks& t = t_locks;
    if (t.count == 0)
        return false;
    try {
        t.waiting.emplace_back(notifier, change);
    } catch (std::bad_alloc const&) {
        return false;  // delivered at once rather than lost
    }
    return true;
}

}  // namespace detail
}  // namespace img
