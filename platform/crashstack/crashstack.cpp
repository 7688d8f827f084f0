#include "crashstack.h"

#include <sys/mman.h>
#include <unistd.h>

namespace crashstack {

ScopedStack::ScopedStack() noexcept
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    void* area = ::mmap(nullptr, kStackSize + page, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED)
        return;
    // A guard page below, so that an overflow of this stack faults at once.
    ::mprotect(area, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(area) + page;
    stack.ss_size = kStackSize;
    if (::sigaltstack(&stack, &m_previous) != 0) {
        ::munmap(area, kStackSize + page);
        return;
    }
    m_area = area;
    m_size = kStackSize + page;
}

ScopedStack::~ScopedStack()
{
    if (!m_area)
        return;
    // Whatever was there before (a sanitizer's own stack) is put back before
    // the thread ends, so its owner finds it as it left it.
    ::sigaltstack(&m_previous, nullptr);
    ::munmap(m_area, m_size);
}

void prepareThisThread() noexcept
{
    // Made on the first call in each thread, undone when the thread ends.
    thread_local const ScopedStack stack;
}

} // namespace crashstack
