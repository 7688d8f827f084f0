// Has the kernel map and clear the pages of a large buffer on a second thread
// while the parser fills the buffer from its start, so that the parsing thread
// does not stop for the page faults.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

namespace music::internal {

class Prefaulter
{
public:
    // Buffers smaller than this fault in fast enough on their own.
    static constexpr std::size_t kMinimumBytes = std::size_t{16} << 20;

    Prefaulter() = default;
    Prefaulter(const Prefaulter&) = delete;
    Prefaulter& operator=(const Prefaulter&) = delete;
    ~Prefaulter() { stop(); }

    // Starts preparing `bytes` bytes from `memory`; does nothing for small buffers
    // or when no thread can be started.
    void start(void* memory, std::size_t bytes) noexcept;
    // Stops and waits for the thread; the buffer may then move or be freed.
    void stop() noexcept;

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

} // namespace music::internal
