#include "prefaulter.h"

#include "crashstack.h"

#include <algorithm>
#include <sys/mman.h>
#include <system_error>

namespace music::internal {

void Prefaulter::start(void* memory, std::size_t bytes) noexcept
{
    stop();
    if (bytes < kMinimumBytes)
        return;
    m_stop.store(false, std::memory_order_relaxed);
    try {
        m_thread = std::thread([this, memory, bytes] {
            crashstack::prepareThisThread();
            constexpr std::size_t kStep = std::size_t{2} << 20;
            char* const first = static_cast<char*>(memory);
            for (std::size_t done = 0; done < bytes; done += kStep) {
                if (m_stop.load(std::memory_order_relaxed))
                    return;
                // Touches nothing the parser wrote: pages already present are left
                // as they are. Kernels without this advice refuse it; then stop.
                if (::madvise(first + done, std::min(kStep, bytes - done), MADV_POPULATE_WRITE) !=
                    0)
                    return;
            }
        });
    } catch (const std::system_error&) {
        // No thread: the pages fault in as the parser reaches them.
    }
}

void Prefaulter::stop() noexcept
{
    m_stop.store(true, std::memory_order_relaxed);
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace music::internal
