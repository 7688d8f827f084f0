#include "allocationcount.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <link.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRISOLDE_SANITIZED 1
// The sanitizers' runtime (GCC installs no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*,
                                                                          std::size_t),
                                                         void (*onFree)(const volatile void*));
#endif

namespace testsupport {
namespace {

// Plain data with a constant initializer: reading it never allocates.
thread_local AllocationCount* t_count = nullptr;

} // namespace

void countAllocation(const void* caller)
{
    AllocationCount* count = t_count;
    if (!count)
        return;
    const auto* at = static_cast<const char*>(caller);
    if (at && at >= count->m_begin && at < count->m_end)
        ++count->m_libraryAllocations;
    else
        ++count->m_allocations;
}

void countFree(const void* caller)
{
    AllocationCount* count = t_count;
    if (!count)
        return;
    const auto* at = static_cast<const char*>(caller);
    if (at && at >= count->m_begin && at < count->m_end)
        ++count->m_libraryFrees;
    else
        ++count->m_frees;
}

#ifdef BRISOLDE_SANITIZED
namespace {

// The sanitizers own malloc; they call these hooks for every allocation.
void onMalloc(const volatile void*, std::size_t)
{
    countAllocation(nullptr);
}
void onFree(const volatile void* pointer)
{
    if (pointer)
        countFree(nullptr);
}

} // namespace
#endif

bool AllocationCount::knowsCallers()
{
#ifdef BRISOLDE_SANITIZED
    return false;
#else
    return true;
#endif
}

AllocationCount::AllocationCount(const char* library) : m_previous(t_count)
{
    if (library) {
        struct Search
        {
            const char* name;
            const char* begin;
            const char* end;
        } search{library, nullptr, nullptr};
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* data) {
                auto* s = static_cast<Search*>(data);
                if (!info->dlpi_name || !std::strstr(info->dlpi_name, s->name))
                    return 0;
                for (int i = 0; i < info->dlpi_phnum; ++i) {
                    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                    if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X)) {
                        s->begin = reinterpret_cast<const char*>(info->dlpi_addr + segment.p_vaddr);
                        s->end = s->begin + segment.p_memsz;
                    }
                }
                return 1;
            },
            &search);
        m_begin = search.begin;
        m_end = search.end;
    }
#ifdef BRISOLDE_SANITIZED
    static const int installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    (void)installed;
#endif
    t_count = this;
}

AllocationCount::~AllocationCount()
{
    t_count = m_previous;
}

} // namespace testsupport

#ifndef BRISOLDE_SANITIZED
// The C library's allocator under its own names; ours stand in front of it
// for the whole program, shared libraries included.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);

void* malloc(std::size_t size)
{
    testsupport::countAllocation(__builtin_return_address(0));
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    testsupport::countAllocation(__builtin_return_address(0));
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size)
{
    testsupport::countAllocation(__builtin_return_address(0));
    return __libc_realloc(pointer, size);
}

void* memalign(std::size_t alignment, std::size_t size)
{
    testsupport::countAllocation(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    testsupport::countAllocation(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size)
{
    testsupport::countAllocation(__builtin_return_address(0));
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer)
        return 12; // ENOMEM
    *result = pointer;
    return 0;
}

void free(void* pointer)
{
    if (pointer)
        testsupport::countFree(__builtin_return_address(0));
    __libc_free(pointer);
}
}
#endif
