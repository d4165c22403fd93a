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

// The document's dynamic property sets, in order; empty when it has none.
IMGSCOPE_API std::vector<boost::shared_ptr<utl::CPropSet>> GetDynPropStorage(CImg const& document);
// Replaces the dynamic property sets by `sets` (the pointers are shared,
// not copied). False when a set is null; the document is then unchanged.
IMGSCOPE_API bool SetDynPropStorage(CImg& document, std::vector<boost::shared_ptr<utl::CPropSet>> const& sets);

}  // namespace img
