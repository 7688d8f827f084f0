// A stack of its own for each thread's crash handlers. Signal handlers run on
// the stack of the thread that takes the signal; a thread whose own stack
// has run out (a runaway recursion) can only report that on a second stack,
// set up beforehand with sigaltstack. The handlers are installed once for the
// whole process (crashreport/); the stack has to be given to every thread.
//
// Threads: each call concerns the calling thread only.
#pragma once

#include <csignal>
#include <cstddef>

namespace crashstack {

// Room for the crash report writer: its stack walk, symbol lookups and
// buffers (the debug-help library reads DWARF data on it).
inline constexpr std::size_t kStackSize = 1024 * 1024;

// Gives the calling thread its crash-handler stack, for as long as the thread
// runs; calling it again costs a check only. The first thing a thread of the
// program does, and the first thing a callback does on a thread that a
// library started (an audio driver's).
void prepareThisThread() noexcept;

// The same for a scope of the calling thread that ends before the thread does
// (the main thread's, from the crash reporter's start to its end): the stack
// that was there before comes back at the end.
class ScopedStack
{
public:
    ScopedStack() noexcept;
    ~ScopedStack();
    ScopedStack(const ScopedStack&) = delete;
    ScopedStack& operator=(const ScopedStack&) = delete;

    bool isValid() const { return m_area != nullptr; }

private:
    void* m_area = nullptr;
    std::size_t m_size = 0;
    stack_t m_previous{};
};

} // namespace crashstack
