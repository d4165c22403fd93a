#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/display_flow_internal.h"
#include "imgscope/contracts/document/document_internal.h"
#include "imgscope/contracts/document/render/compositor_internal.h"
#include "imgscope/contracts/document/flow/flow_access_internal.h"

#include <exception>

namespace img {

using detail::tEntry;
using detail::tFlowState;
using namespace detail::flow;

// ---------------------------------------------------------------- handles

CDisplProcessFlow::CDisplProcessFlow() : m_flow(new detail::tFlow)
{
    m_flow->state.reset(new tFlowState);
}

CDisplProcessFlow::CDisplProcessFlow(CImg const& document, bool independentCopy) : m_flow(new detail::tFlow)
{
    m_flow->document = document;
    detail::tDocument& record = DocumentOf(document);
    if (independentCopy) {
        const auto guard = detail::Reading(record.lock);
        m_flow->state = record.tree->Clone();
    } else {
        m_flow->state = record.tree;  // made with the document, never replaced
    }
}

CDisplProcessFlow::CDisplProcessFlow(CDisplProcessFlow const& other) = default;
CDisplProcessFlow& CDisplProcessFlow::operator=(CDisplProcessFlow const& other) = default;
CDisplProcessFlow::~CDisplProcessFlow() = default;

// ---------------------------------------------------------------- rendering and messages

bool CDisplProcessFlow::PlayToPixFrame(boost::shared_ptr<CPixFrame> target, geo::CiRect const& pixelRect,
                                       geo::CdRect const& canvasRect, int flags, std::vector<int> const& layerIds,
                                       tRenderHints const& hints) const
{
    (void)flags;  // reserved; callers pass 0
    try {
        return detail::Compose(*m_flow, target, pixelRect, canvasRect, layerIds, hints);
    } catch (std::exception const&) {
        return false;  // out of memory for tables or rows: nothing half-written is reported
    }
}

int CDisplProcessFlow::Subscribe(std::function<void(EChange)> callback) const
{
    return m_flow->state->messages->Subscribe(std::move(callback));
}

void CDisplProcessFlow::Unsubscribe(int subscription) const { m_flow->state->messages->Unsubscribe(subscription); }

boost::shared_ptr<void> CDisplProcessFlow::MuteMessaging() const
{
    return detail::CNotifier::Mute(m_flow->state->messages);
}

}  // namespace img
