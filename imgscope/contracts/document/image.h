// The image document: a handle to a shared set of stacks, document
// properties, dynamic property sets and one layer tree.
#pragma once

#include "imgscope/contracts/document/document_types.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <functional>
#include <vector>

namespace img {

namespace detail {
struct tDocument;
}

// A cheap, copyable handle. Copies refer to one document; a default-made
// handle is a new, empty, valid document. Stack IDs are positive integers.
//
// Threads: every call takes the document's reader/writer lock for its
// duration (shared to read, exclusive to change), so handles of one
// document may be used on several threads at once and each call is seen
// whole. Change messages go out on the thread that made the change, after
// it let go of every lock, so a subscriber may call the library again.
// For several calls seen as one step, see CDocumentLock.
class IMGSCOPE_API CImg {
public:
    CImg();
    CImg(CImg const& other);
    CImg& operator=(CImg const& other);
    ~CImg();

    // Prepares the document for use. Idempotent; every call is counted so
    // that callers can see how often a document was initialised.
    void Initialize();
    int GetInitializeCount() const;
    bool IsValid() const;

    // The stack with ID `id`; a stack whose IsValid() is false when there is
    // none.
    CStack FindStack(int id) const;
    // Stack IDs in ascending order; -1 after the last.
    int FirstStackId() const;
    int NextStackId(int id) const;
    // Stacks in ascending ID order; an invalid stack after the last.
    CStack FirstStack() const;
    CStack NextStack(CStack const& previous) const;
    unsigned int GetStackCount() const;

    // Adds a valid stack that belongs to no document yet, under the ID after
    // the highest this document ever gave out (first form; IDs of removed
    // stacks are never given out again, and -1 once INT_MAX was given) or
    // under `id` (second form, which must be positive and free). Returns the
    // ID, or -1 when refused.
    int Add(CStack const& stack);
    int Add(int id, CStack const& stack);
    // The highest stack ID this document ever gave out, 0 before any: the
    // first form of Add continues after it.
    int GetHighestStackId() const;
    // Removes the stack and every layer-tree entry of it. False for an
    // unknown ID.
    bool Remove(int id);

    // Document properties.
    bool SetProperty(int id, mem::CBin const& value);
    bool PropertyExists(int id) const;
    // Replaces `props` by the document's property set; true.
    bool GetProperties(utl::CPropSet& props) const;
    // The value of `id`; false (and `value` untouched) when absent.
    bool GetProperty(int id, mem::CBin& value) const;
    // The value of `id`, or an empty value.
    mem::CBin GetProperty(int id) const;
    bool DeleteProperty(int id);

    // Change messages: `callback` runs after each change of the document's
    // stacks, properties or pixels (the layer tree has messages of its own,
    // see CDisplProcessFlow). Returns a number for Unsubscribe.
    int Subscribe(std::function<void(EChange)> callback) const;
    void Unsubscribe(int subscription) const;
    // Mutes the document's change messages while any copy of the token
    // lives; when the last copy dies, one eChangeSummary message goes out if
    // anything changed meanwhile.
    boost::shared_ptr<void> MuteMessaging() const;

    // Same document.
    bool operator==(CImg const& other) const { return m_doc == other.m_doc; }
    bool operator!=(CImg const& other) const { return m_doc != other.m_doc; }

private:
    friend detail::tDocument& DocumentOf(CImg const&);
    boost::shared_ptr<detail::tDocument> m_doc;
};

// Holds a document's lock on the calling thread, so that a sequence of
// calls is seen by other threads as one step. Every call of the library
// takes the locks it needs by itself and is seen whole; the mosaic's
// operations that add or remove layers (CreateLayer inserts a layer and
// then dresses it: name, mask, calibration, group) hold the document
// themselves. Hold eChange around other sequences of changes that belong
// together, and eRead around reads that must agree with one another
// (GetLayers and the properties of the layers it lists).
//
// While held, other threads wait before changing the document (eRead) or
// before any call on it (eChange), except calls on pixels: pasting and
// reading pixels take the pixel store's own lock, and renders read pixels
// as they were when they began, so an acquisition keeps pasting while a
// viewer holds eRead around a render. Calls of the holding thread pass
// through. A read lock is never upgraded: a change of the document or its
// layer tree inside eRead of the same document is refused (the model throws
// std::logic_error, which a scope operation reports as its failure
// result). Change messages of the holding thread go out when the lock is
// released, on that thread. Release it on the thread that took it.
class IMGSCOPE_API CDocumentLock {
public:
    enum EMode : int { eRead = 0, eChange = 1 };

    // Throws std::logic_error for eChange while this thread holds eRead of
    // the same document.
    CDocumentLock(CImg const& document, EMode mode);
    ~CDocumentLock();
    CDocumentLock(CDocumentLock const&) = delete;
    CDocumentLock& operator=(CDocumentLock const&) = delete;

private:
    CImg m_document;
    void* m_pGuard;  // the record lock's guard
};

// The document's dynamic property sets, in order; empty when it has none.
IMGSCOPE_API std::vector<boost::shared_ptr<utl::CPropSet>> GetDynPropStorage(CImg const& document);
// Replaces the dynamic property sets by `sets` (the pointers are shared,
// not copied). False when a set is null; the document is then unchanged.
IMGSCOPE_API bool SetDynPropStorage(CImg& document, std::vector<boost::shared_ptr<utl::CPropSet>> const& sets);

}  // namespace img
