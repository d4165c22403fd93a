// Records behind the document handles, shared by the document, stack and
// layer-tree code of the library. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/stack.h"

#include "imgscope/contracts/document/record_lock_internal.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace img {
namespace detail {

// Subscribers of one kind of change message, with muting. Held by
// shared_ptr so that a muting token may outlive the document it mutes.
// Safe from any thread: its state has a lock of its own, never held while a
// subscriber runs.
class CNotifier : public boost::enable_shared_from_this<CNotifier> {
public:
    int Subscribe(std::function<void(EChange)> callback);
    void Unsubscribe(int subscription);
    // Calls every subscriber, or only notes the change while muted. While
    // the calling thread holds a record lock the call waits until it holds
    // none (CRecordGuard), so subscribers never run under a lock.
    void Notify(EChange change);
    // A token that mutes until its last copy dies; then one eChangeSummary
    // goes out if anything was noted meanwhile.
    static boost::shared_ptr<void> Mute(boost::shared_ptr<CNotifier> const& notifier);
    bool IsMuted() const;
    // Calls every subscriber that is still subscribed when its turn comes.
    void Deliver(EChange change);

private:
    // Ends one muting; sends the summary when it was the last.
    void Unmute();
    // Delivers now, or once the thread holds no record lock.
    void Post(EChange change);

    mutable std::mutex m_mutex;
    std::map<int, std::function<void(EChange)>> m_subscribers;
    int m_nextId = 1;
    int m_muteCount = 0;
    bool m_pending = false;
};

// The layer tree, display state and canvas of one flow; defined with the
// flow code (display_flow_internal.h).
struct tFlowState;
// Removes every entry of `layerId` from a tree: a stack that leaves the
// document must leave its tree too. Defined with the flow code.
void ForgetLayer(tFlowState& tree, int layerId);

// One document. Its lock guards the record and its layer tree.
struct tDocument {
    tDocument();

    CRecordLock lock;
    // Counted apart from the lock: preparing a scope is a read of the
    // document, allowed while another read holds it.
    std::atomic<int> initializeCount{0};
    std::map<int, CStack> stacks;  // by stack ID, ascending
    int highestId = 0;             // the highest stack ID ever given out
    utl::CPropSet properties;
    std::vector<boost::shared_ptr<utl::CPropSet>> dynamicProperties;
    boost::shared_ptr<CNotifier> messages{new CNotifier};
    // The document's own layer tree, made with the document, so that no
    // view has to change the document to find it.
    boost::shared_ptr<tFlowState> tree;
};

}  // namespace detail

// The record behind a document handle (never null).
detail::tDocument& DocumentOf(CImg const& document);
// The record behind a stack handle; null for an invalid stack.
detail::tStack* StackRecordOf(CStack const& stack);

}  // namespace img
