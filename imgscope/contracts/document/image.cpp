#include "imgscope/contracts/document/image.h"

#include "imgscope/contracts/document/display_flow_internal.h"
#include "imgscope/contracts/document/document_internal.h"
#include "imgscope/contracts/document/stack_internal.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

namespace img {
namespace detail {

tDocument::tDocument() : tree(new tFlowState)
{
    tree->ownLock.reset();
    tree->lock = &lock;
}

int CNotifier::Subscribe(std::function<void(EChange)> callback)
{
    if (!callback)
        return -1;
    const std::lock_guard<std::mutex> lock(m_mutex);
    const int id = m_nextId++;
    m_subscribers.emplace(id, std::move(callback));
    return id;
}

void CNotifier::Unsubscribe(int subscription)
{
    std::function<void(EChange)> gone;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_subscribers.find(subscription);
        if (it == m_subscribers.end())
            return;
        gone = std::move(it->second);  // destroyed after the lock: it may hold anything
        m_subscribers.erase(it);
    }
}

void CNotifier::Notify(EChange change)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_muteCount > 0) {
            m_pending = true;
            return;
        }
    }
    Post(change);
}

bool CNotifier::IsMuted() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_muteCount > 0;
}

void CNotifier::Post(EChange change)
{
    if (!DeferWhileLocked(shared_from_this(), change))
        Deliver(change);
}

void CNotifier::Deliver(EChange change)
{
    // Callbacks may subscribe, unsubscribe or change the document again, so
    // walk a snapshot of the IDs and look each one up before calling it.
    std::vector<int> ids;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ids.reserve(m_subscribers.size());
        for (auto const& entry : m_subscribers)
            ids.push_back(entry.first);
    }
    for (int id : ids) {
        std::function<void(EChange)> callback;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_subscribers.find(id);
            if (it == m_subscribers.end())
                continue;
            callback = it->second;
        }
        try {
            callback(change);
        } catch (...) {
            // The change has happened; a failing listener must neither undo
            // the caller's result nor keep the others from hearing of it.
        }
    }
}

void CNotifier::Unmute()
{
    bool summary = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_muteCount > 0)
            --m_muteCount;
        if (m_muteCount == 0 && m_pending) {
            m_pending = false;
            summary = true;
        }
    }
    if (summary)
        Post(eChangeSummary);
}

boost::shared_ptr<void> CNotifier::Mute(boost::shared_ptr<CNotifier> const& notifier)
{
    if (!notifier)
        return boost::shared_ptr<void>();
    {
        const std::lock_guard<std::mutex> lock(notifier->m_mutex);
        ++notifier->m_muteCount;
    }
    // The token owns the notifier, so it may outlive the document. Should
    // making the token fail, boost calls the deleter, which balances the count.
    return boost::shared_ptr<void>(static_cast<void*>(notifier.get()), [notifier](void*) {
        try {
            notifier->Unmute();
        } catch (...) {
            // Runs inside a destructor.
        }
    });
}

}  // namespace detail

detail::tDocument& DocumentOf(CImg const& document)
{
    return *document.m_doc;
}

CImg::CImg() : m_doc(new detail::tDocument) {}
CImg::CImg(CImg const& other) = default;
CImg& CImg::operator=(CImg const& other) = default;
CImg::~CImg() = default;

void CImg::Initialize()
{
    // Nothing is loaded lazily, so preparing twice changes nothing; the count
    // lets callers check that they prepare a document once.
    ++m_doc->initializeCount;
}

int CImg::GetInitializeCount() const
{
    return m_doc->initializeCount.load();
}

bool CImg::IsValid() const
{
    return m_doc != nullptr;
}

CStack CImg::FindStack(int id) const
{
    const auto guard = detail::Reading(m_doc->lock);
    auto it = m_doc->stacks.find(id);
    return it == m_doc->stacks.end() ? CStack() : it->second;
}

int CImg::FirstStackId() const
{
    const auto guard = detail::Reading(m_doc->lock);
    return m_doc->stacks.empty() ? -1 : m_doc->stacks.begin()->first;
}

int CImg::NextStackId(int id) const
{
    const auto guard = detail::Reading(m_doc->lock);
    auto it = m_doc->stacks.upper_bound(id);
    return it == m_doc->stacks.end() ? -1 : it->first;
}

CStack CImg::FirstStack() const
{
    const auto guard = detail::Reading(m_doc->lock);
    return m_doc->stacks.empty() ? CStack() : m_doc->stacks.begin()->second;
}

CStack CImg::NextStack(CStack const& previous) const
{
    const auto guard = detail::Reading(m_doc->lock);
    detail::tStack* record = StackRecordOf(previous);
    if (!record)
        return CStack();
    int id = -1;
    {
        const auto stackGuard = detail::Reading(record->lock);
        // A stack of another document has no place in this document's order.
        if (record->Document() != m_doc)
            return CStack();
        id = record->id;
    }
    auto it = m_doc->stacks.upper_bound(id);
    return it == m_doc->stacks.end() ? CStack() : it->second;
}

unsigned int CImg::GetStackCount() const
{
    const auto guard = detail::Reading(m_doc->lock);
    return static_cast<unsigned int>(m_doc->stacks.size());
}

int CImg::GetHighestStackId() const
{
    return m_doc->highestId;
}

int CImg::Add(CStack const& stack)
{
    const auto guard = detail::Changing(m_doc->lock);
    // Past every ID the document ever gave: an ID that was deleted is never
    // handed to another stack, so a caller still holding it finds nothing
    // instead of someone else's layer.
    if (m_doc->highestId == std::numeric_limits<int>::max())
        return -1;
    return Add(m_doc->highestId + 1, stack);
}

int CImg::Add(int id, CStack const& stack)
{
    const auto guard = detail::Changing(m_doc->lock);
    detail::tStack* record = StackRecordOf(stack);
    if (!record || id <= 0 || m_doc->stacks.count(id) != 0)
        return -1;
    const auto stackGuard = detail::Changing(record->lock);
    if (record->Document())
        return -1;
    m_doc->stacks.emplace(id, stack);
    m_doc->highestId = std::max(m_doc->highestId, id);
    record->document = m_doc;
    record->id = id;
    m_doc->messages->Notify(eChangeStacks);
    return id;
}

bool CImg::Remove(int id)
{
    const auto guard = detail::Changing(m_doc->lock);
    auto it = m_doc->stacks.find(id);
    if (it == m_doc->stacks.end())
        return false;
    // Keep the stack alive until its link is cut: the map may hold the last
    // handle.
    const CStack removed = it->second;
    m_doc->stacks.erase(it);
    if (detail::tStack* record = StackRecordOf(removed)) {
        const auto stackGuard = detail::Changing(record->lock);
        record->document.reset();
        record->id = -1;
    }
    detail::ForgetLayer(*m_doc->tree, id);
    m_doc->messages->Notify(eChangeStacks);
    return true;
}

bool CImg::SetProperty(int id, mem::CBin const& value)
{
    const auto guard = detail::Changing(m_doc->lock);
    if (!m_doc->properties.SetProperty(id, value))
        return false;
    m_doc->messages->Notify(eChangeProperties);
    return true;
}

bool CImg::PropertyExists(int id) const
{
    const auto guard = detail::Reading(m_doc->lock);
    return m_doc->properties.PropertyExists(id);
}

bool CImg::GetProperties(utl::CPropSet& props) const
{
    const auto guard = detail::Reading(m_doc->lock);
    props = m_doc->properties;
    return true;
}

bool CImg::GetProperty(int id, mem::CBin& value) const
{
    const auto guard = detail::Reading(m_doc->lock);
    return m_doc->properties.GetProperty(id, value);
}

mem::CBin CImg::GetProperty(int id) const
{
    const auto guard = detail::Reading(m_doc->lock);
    mem::CBin value;
    m_doc->properties.GetProperty(id, value);
    return value;
}

bool CImg::DeleteProperty(int id)
{
    const auto guard = detail::Changing(m_doc->lock);
    if (!m_doc->properties.DeleteProperty(id))
        return false;
    m_doc->messages->Notify(eChangeProperties);
    return true;
}

int CImg::Subscribe(std::function<void(EChange)> callback) const
{
    return m_doc->messages->Subscribe(std::move(callback));
}

void CImg::Unsubscribe(int subscription) const
{
    m_doc->messages->Unsubscribe(subscription);
}

boost::shared_ptr<void> CImg::MuteMessaging() const
{
    return detail::CNotifier::Mute(m_doc->messages);
}

CDocumentLock::CDocumentLock(CImg const& document, EMode mode)
    : m_document(document), m_pGuard(new detail::CRecordGuard(&DocumentOf(document).lock, mode == eChange))
{
}

CDocumentLock::~CDocumentLock()
{
    delete static_cast<detail::CRecordGuard*>(m_pGuard);
}

std::vector<boost::shared_ptr<utl::CPropSet>> GetDynPropStorage(CImg const& document)
{
    detail::tDocument& doc = DocumentOf(document);
    const auto guard = detail::Reading(doc.lock);
    return doc.dynamicProperties;
}

bool SetDynPropStorage(CImg& document, std::vector<boost::shared_ptr<utl::CPropSet>> const& sets)
{
    for (auto const& set : sets)
        if (!set)
            return false;
    detail::tDocument& doc = DocumentOf(document);
    const auto guard = detail::Changing(doc.lock);
    doc.dynamicProperties = sets;
    doc.messages->Notify(eChangeProperties);
    return true;
}

}  // namespace img
