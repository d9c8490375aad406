#pragma once

#include "FolderWalker.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// Walks a folder tree on a thread of its own, a few batches of pages ahead of the thread
// that takes them, so that listing the folders and taking every entry's status run beside
// the work on the pages. The pages come in the walker's order, handed over a batch at a
// time. Without a thread to spare, next() walks on the taker's thread.
class WalkAhead {
public:
    // Pages handed over at once, and batches walked ahead of the taker at most.
    static constexpr std::size_t kBatch = 64;
    static constexpr std::size_t kBatchesAhead = 32;  // about 2,000 pages, 1 MB

    // Starts walking at once when onItsOwnThread, at most batchesAhead batches ahead of
    // the taker; the walker must outlive this.
    WalkAhead(FolderWalker& walker, bool onItsOwnThread, std::size_t batchesAhead = kBatchesAhead);
    ~WalkAhead();
    WalkAhead(const WalkAhead&) = delete;
    WalkAhead& operator=(const WalkAhead&) = delete;

    // The next page, or false when the tree is exhausted. A failure of the walk (out of
    // memory) is thrown here, after the pages walked before it.
    bool next(PageItem& page);

    // Ends the walk where it stands and waits for its thread: the walker's counts are
    // final afterwards, and next() gives nothing more.
    void finish();


private:
    void walk();

    FolderWalker& m_walker;
    const std::size_t m_batchesAhead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<PageItem>> m_ready;  // walked, not yet taken
    std::vector<PageItem> m_taking;             // the batch being taken
    std::size_t m_next = 0;                     // in m_taking
    bool m_walked = false;                      // the walk ended: no batch will follow
    std::atomic<bool> m_stopping{false};
    std::exception_ptr m_failure;
    std::thread m_thread;
};
