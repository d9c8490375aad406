#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// The document numbers of the pages of one walk, given while the pages are parsed on
// several threads. A page that is left out once it is read (it asks not to be indexed)
// gets none, and the pages after it are numbered on without a hole, so each page's
// number is known once every page before it in walk order is settled. Pages are settled
// by the threads that read them; a thread that needs a page's number waits only for
// pages before it, which the pipeline hands out first, so the waits always end.
class DocumentNumbers {
public:
    explicit DocumentNumbers(std::int32_t first) : m_next(first) {}

    // The page at place (its place in walk order, from 0) is kept or left out. Every
    // place is settled once.
    void settle(std::size_t place, bool kept)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (place >= m_states.size())
            m_states.resize(place + 1, Unsettled);
        m_states[place] = kept ? Kept : LeftOut;
        bool advanced = false;
        while (m_settled < m_states.size() && m_states[m_settled] != Unsettled) {
            m_numbers.push_back(m_states[m_settled] == Kept ? m_next++ : -1);
            ++m_settled;
            advanced = true;
        }
        if (advanced)
            m_changed.notify_all();
    }

    // The number of the page at place, -1 when it was left out; waits until it and every
    // page before it are settled.
    std::int32_t numberOf(std::size_t place)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_settled > place; });
        return m_numbers[place];
    }

private:
    enum State : std::uint8_t { Unsettled, Kept, LeftOut };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<State> m_states;          // by place
    std::vector<std::int32_t> m_numbers;  // by place, for the settled ones
    std::size_t m_settled = 0;            // places [0, m_settled) are settled
    std::int32_t m_next;
};
