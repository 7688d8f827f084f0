// Counts the heap allocations and frees made on the calling thread while an
// AllocationCount lives there: every malloc, calloc, realloc and aligned
// allocation, whether from C++ (operator new ends there) or from C libraries
// such as FluidSynth. Only the test programs that link it are affected.
#pragma once

#include <cstddef>

namespace testsupport {

class AllocationCount
{
public:
    // Allocations called straight from the code of the loaded shared library
    // whose file name holds `library` are counted apart.
    explicit AllocationCount(const char* library = nullptr);
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;

    // Whether allocations can be told apart by caller in this build (not
    // under the sanitizers, which own the allocator).
    static bool knowsCallers();

    std::size_t allocations() const { return m_allocations; }
    std::size_t frees() const { return m_frees; }
    std::size_t libraryAllocations() const { return m_libraryAllocations; }
    std::size_t libraryFrees() const { return m_libraryFrees; }

private:
    friend void countAllocation(const void* caller);
    friend void countFree(const void* caller);
    std::size_t m_allocations = 0;
    std::size_t m_frees = 0;
    std::size_t m_libraryAllocations = 0;
    std::size_t m_libraryFrees = 0;
    // The library's code: [begin, end).
    const char* m_begin = nullptr;
    const char* m_end = nullptr;
    AllocationCount* m_previous;
};

} // namespace testsupport
