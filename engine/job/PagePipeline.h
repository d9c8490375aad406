#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Analyses pages ahead of the recorder on worker threads. Pages are handed in in walk
// order and taken back in the same order; the taking thread analyses queued pages
// itself while it waits, so with one thread it does all the work and no thread is
// started. analyse(item, thread) learns which thread runs it: 0 for the taking thread,
// 1 to threads - 1 for the workers. An exception thrown by analyse, on any thread, comes
// out of takeFront() for that page.
template <typename Item, typename Result, typename Analyse>
class PagePipeline {
public:
    PagePipeline(unsigned threads, std::size_t window, Analyse analyse)
        : m_window(window), m_analyse(std::move(analyse))
    {
        try {
            for (unsigned i = 1; i < threads; ++i)
                m_workers.emplace_back([this, i] { work(i); });
        } catch (...) {
            // Fewer workers only means less speed: the taking thread analyses the rest.
        }
    }

    ~PagePipeline()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        for (std::thread& worker : m_workers)
            worker.join();
    }

    PagePipeline(const PagePipeline&) = delete;
    PagePipeline& operator=(const PagePipeline&) = delete;

    bool hasRoom() const { return m_slots.size() < m_window; }
    bool empty() const { return m_slots.empty(); }

    void submit(Item item)
    {
        auto slot = std::make_unique<Slot>();
        slot->item = std::move(item);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_slots.push_back(std::move(slot));
        }
        m_changed.notify_one();
    }

    // Waits for the oldest page, helping with later ones meanwhile, and hands it over.
    void takeFront(Item& item, Result& result)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Slot* front = m_slots.front().get();
        while (front->state != Slot::Ready) {
            if (Slot* slot = claimNext()) {
                lock.unlock();
                analyseInto(*slot, 0);
                lock.lock();
                slot->state = Slot::Ready;
                continue;
            }
            m_changed.wait(lock);
        }
        std::unique_ptr<Slot> slot = std::move(m_slots.front());
        m_slots.pop_front();
        --m_claimed;
        lock.unlock();
        if (slot->failure)
            std::rethrow_exception(slot->failure);
        item = std::move(slot->item);
        result = std::move(slot->result);
    }

private:
    struct Slot {
        enum State { Queued, Parsing, Ready } state = Queued;
        Item item;
        Result result;
        std::exception_ptr failure;
    };

    // Runs analyse without the mutex held; a failure is kept for the taker.
    void analyseInto(Slot& slot, unsigned thread)
    {
        try {
            slot.result = m_analyse(slot.item, thread);
        } catch (...) {
            slot.failure = std::current_exception();
        }
    }

    // The oldest queued page, marked as being analysed; null when none waits. Called
    // with the mutex held.
    Slot* claimNext()
    {
        if (m_claimed >= m_slots.size())
            return nullptr;
        Slot* slot = m_slots[m_claimed++].get();
        slot->state = Slot::Parsing;
        return slot;
    }

    void work(unsigned thread)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            Slot* slot = nullptr;
            m_changed.wait(lock, [&] { return m_closing || (slot = claimNext()) != nullptr; });
            if (!slot)
                return;
            lock.unlock();
            analyseInto(*slot, thread);
            lock.lock();
            slot->state = Slot::Ready;
            m_changed.notify_all();
        }
    }

    const std::size_t m_window;
    Analyse m_analyse;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Slot>> m_slots;  // in walk order
    std::size_t m_claimed = 0;                  // slots [0, m_claimed) are parsing or ready
    bool m_closing = false;
    std::vector<std::thread> m_workers;
};
