// The test program's operator new, so that a test can make allocations fail as they do
// when memory runs out: while g_onlyAllocatingThread names a thread, every allocation on
// another thread fails. A file of its own, so that no caller sees how blocks are made.

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

std::atomic<std::thread::id> g_onlyAllocatingThread;

void* operator new(std::size_t size)
{
    const std::thread::id only = g_onlyAllocatingThread.load();
    if (only != std::thread::id() && only != std::this_thread::get_id())
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
