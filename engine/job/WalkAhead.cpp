// The walk of the source tree run ahead of the recorder on a thread of its own: the
// folders' listings and their entries' statuses are most of what a job costs when its
// pages come from the cache.

#include "WalkAhead.h"

#include <algorithm>
#include <utility>

WalkAhead::WalkAhead(FolderWalker& walker, bool onItsOwnThread, std::size_t batchesAhead)
    : m_walker(walker), m_batchesAhead(std::max<std::size_t>(batchesAhead, 1))
{
    if (!onItsOwnThread)
        return;
    try {
        m_thread = std::thread([this] { walk(); });
    } catch (...) {
        // No thread to spare only costs the speed: next() walks then.
    }
}

WalkAhead::~WalkAhead()
{
    finish();
}

void WalkAhead::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_ready.clear();
    m_taking.clear();
    m_next = 0;
    m_walked = true;
}

void WalkAhead::walk()
{
    std::vector<PageItem> batch;
    try {
        for (bool more = true; more;) {
            batch.clear();
            batch.reserve(kBatch);
            PageItem page;
            while (batch.size() < kBatch && !m_stopping && (more = m_walker.next(page)))
                batch.push_back(std::move(page));
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || m_ready.size() < m_batchesAhead; });
            if (m_stopping)
                return;
            if (!batch.empty())
                m_ready.push_back(std::move(batch));
            m_walked = !more;
            lock.unlock();
            m_changed.notify_all();
        }
    } catch (...) {
        // The pages walked before the failure are handed over first.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!batch.empty())
            m_ready.push_back(std::move(batch));
        m_failure = std::current_exception();
        m_walked = true;
    }
    m_changed.notify_all();
}

bool WalkAhead::next(PageItem& page)
{
    if (m_next == m_taking.size()) {
        if (!m_thread.joinable())
            return !m_walked && m_walker.next(page);
        m_taking.clear();
        m_next = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_walked; });
        if (m_ready.empty()) {
            if (m_failure)
                std::rethrow_exception(std::exchange(m_failure, nullptr));
            return false;
        }
        m_taking = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        m_changed.notify_all();
    }
    page = std::move(m_taking[m_next++]);
    return true;
}
