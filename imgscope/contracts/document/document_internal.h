// Records behind the document handles, shared by the document, stack and
// layer-tree code of the library. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/stack.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <functional>
#include <map>
#include <vector>

namespace img {
namespace detail {

// Subscribers of one kind of change message, with muting. Held by
// shared_ptr so that a muting token may outlive the document it mutes.
class CNotifier {
public:
    int Subscribe(std::function<void(EChange)> callback);
    void Unsubscribe(int subscription);
    // Calls every subscriber, or only notes the change while muted.
    void Notify(EChange change);
    // A token that mutes until its last copy dies; then one eChangeSummary
    // goes out if anything was noted meanwhile.
    static boost::shared_ptr<void> Mute(boost::shared_ptr<CNotifier> const& notifier);
    bool IsMuted() const { return m_muteCount > 0; }

private:
    // Calls every subscriber that is still subscribed when its turn comes.
    void Deliver(EChange change);
    // Ends one muting; sends the summary when it was the last.
    void Unmute();

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

// One document.
struct tDocument {
    int initializeCount = 0;
    std::map<int, CStack> stacks;  // by stack ID, ascending
    int highestId = 0;             // the highest stack ID ever given out
    utl::CPropSet properties;
    std::vector<boost::shared_ptr<utl::CPropSet>> dynamicProperties;
    boost::shared_ptr<CNotifier> messages{new CNotifier};
    // The document's own layer tree, made by the first flow view.
    boost::shared_ptr<tFlowState> tree;
};

}  // namespace detail

// The record behind a document handle (never null).
detail::tDocument& DocumentOf(CImg const& document);
// The record behind a stack handle; null for an invalid stack.
detail::tStack* StackRecordOf(CStack const& stack);

}  // namespace img
