// A bounded lock-free queue for exactly one producer thread and one consumer
// thread. Elements are small plain structs copied in and out; nothing is
// allocated after construction, so the consumer may be a real-time thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace music::internal {

template <typename T> class SpscQueue
{
    static_assert(std::is_trivially_copyable_v<T>, "elements are copied as plain data");

public:
    // Holds up to `capacity` elements (rounded up to a power of two).
    explicit SpscQueue(std::size_t capacity)
    {
        std::size_t size = 2;
        while (size < capacity)
            size *= 2;
        m_mask = size - 1;
        m_slots = std::make_unique<T[]>(size);
    }

    // Producer: false when the queue is full.
    bool push(const T& value)
    {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_head.load(std::memory_order_acquire) > m_mask)
            return false;
        m_slots[tail & m_mask] = value;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer: the oldest element, or null when empty. Stays valid until pop().
    const T* front() const
    {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire))
            return nullptr;
        return &m_slots[head & m_mask];
    }

    // Consumer: the element `index` places behind the oldest, or null when
    // there are not that many. Stays valid until it is popped.
    const T* at(std::size_t index) const
    {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        if (index >= m_tail.load(std::memory_order_acquire) - head)
            return nullptr;
        return &m_slots[(head + index) & m_mask];
    }

    // Consumer: drops the oldest element (there must be one).
    void pop()
    {
        m_head.store(m_head.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Consumer.
    bool tryPop(T& out)
    {
        const T* value = front();
        if (!value)
            return false;
        out = *value;
        pop();
        return true;
    }

    // Either side: an estimate, exact when the other side is idle.
    std::size_t size() const
    {
        return m_tail.load(std::memory_order_acquire) - m_head.load(std::memory_order_acquire);
    }
    std::size_t capacity() const { return m_mask + 1; }

private:
    std::unique_ptr<T[]> m_slots;
    std::size_t m_mask = 0;
    alignas(64) std::atomic<std::size_t> m_head{0};
    alignas(64) std::atomic<std::size_t> m_tail{0};
};

} // namespace music::internal
