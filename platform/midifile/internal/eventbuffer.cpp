#include "eventbuffer.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace music::internal {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

} // namespace

std::size_t grantedBytes(std::size_t bytes) noexcept
{
    if (bytes < 2 * kHugePage)
        return bytes > 0 ? bytes : 1;
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

void* allocateBuffer(std::size_t bytes, std::size_t& granted)
{
    granted = grantedBytes(bytes);
    void* memory = nullptr;
    if (granted >= 2 * kHugePage) {
        memory = std::aligned_alloc(kHugePage, granted);
        if (memory)
            ::madvise(memory, granted, MADV_HUGEPAGE); // advice only: failure changes nothing
    } else {
        memory = std::malloc(granted);
    }
    if (!memory)
        throw std::bad_alloc();
    return memory;
}

std::size_t shrunkBytes(std::size_t bytes) noexcept
{
    constexpr std::size_t kPage = 4096;
    return bytes < 2 * kHugePage ? grantedBytes(bytes) : (bytes + kPage - 1) / kPage * kPage;
}

void* shrinkBuffer(void* memory, std::size_t bytes, std::size_t& granted)
{
    // realloc unmaps the tail of a large block instead of copying it.
    const std::size_t wanted = shrunkBytes(bytes);
    void* smaller = std::realloc(memory, wanted);
    if (!smaller)
        throw std::bad_alloc();
    granted = wanted;
    return smaller;
}

void freeBuffer(void* memory) noexcept
{
    std::free(memory);
}

} // namespace music::internal
