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

// The forms that do not throw (the standard library's temporary buffers, as a stable
// sort takes, are made with them) give the same blocks, so that every block made here is
// freed by the operator delete below and never by another allocator's.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
