// Locks of the document model's records (documents with their layer tree,
// stacks, independent layer trees) and the change messages that wait for
// them. Not installed.
#pragma once

#include "imgscope/contracts/document/document_types.h"

#include <boost/shared_ptr.hpp>

#include <pthread.h>

namespace img {
namespace detail {

// A reader/writer lock over one record. Writers are preferred, so that a
// stream of readers (a viewer rendering again and again) cannot starve an
// acquisition that changes the document.
class CRecordLock {
public:
    CRecordLock();
    ~CRecordLock();
    CRecordLock(CRecordLock const&) = delete;
    CRecordLock& operator=(CRecordLock const&) = delete;

private:
    friend class CRecordGuard;
    pthread_rwlock_t m_lock;
};

// Holds a record's lock for one call of the model: shared for a call that
// only reads, exclusive for one that changes the record. Calls nest (a
// layer-tree call asks the document for a stack, a stack call reads its own
// properties): a thread that already holds the lock passes through, so a
// record is never locked twice by one thread. A change needs the lock
// exclusively from its outermost call on: one thread never upgrades.
//
// Order: a thread takes the locks of documents (and their trees) before
// those of stacks, and those before the locks of pixel stores.
//
// Change messages raised while a thread holds any record lock are kept and
// delivered, on that thread, when it holds none (see CNotifier): a
// subscriber never runs under a lock, so it may call the library again.
class CRecordGuard {
public:
    // A null lock holds nothing: calls on an invalid handle lock nothing.
    CRecordGuard(CRecordLock* lock, bool exclusive);
    ~CRecordGuard();
    CRecordGuard(CRecordGuard const&) = delete;
    CRecordGuard& operator=(CRecordGuard const&) = delete;

private:
    CRecordLock* m_pTaken;  // null when an outer call of this thread holds it
};

// The guard of a call that reads the record, and of one that changes it.
inline CRecordGuard Reading(CRecordLock& lock)
{
    return CRecordGuard(&lock, false);
}
inline CRecordGuard Changing(CRecordLock& lock)
{
    return CRecordGuard(&lock, true);
}

class CNotifier;

// Keeps a change message for delivery once the calling thread holds no
// record lock; false, nothing kept, when it holds none or there is no
// memory to keep it (the caller then delivers at once).
bool DeferWhileLocked(boost::shared_ptr<CNotifier> const& notifier, EChange change);

}  // namespace detail
}  // namespace img
