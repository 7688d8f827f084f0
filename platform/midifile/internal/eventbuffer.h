// Storage for a segment's events. Unlike std::vector it leaves new room
// uninitialised (the merge overwrites every slot) and asks for huge pages for
// large pieces, which saves most of the page faults of a big load.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace music::internal {

// Raw memory for `bytes` bytes, rounded up to whole huge pages when large;
// `granted` receives the size handed out. Throws std::bad_alloc.
void* allocateBuffer(std::size_t bytes, std::size_t& granted);
// Gives back the end of a buffer in place where the system can; may move it.
void* shrinkBuffer(void* memory, std::size_t bytes, std::size_t& granted);
std::size_t grantedBytes(std::size_t bytes) noexcept;
// What shrinkBuffer leaves of a buffer cut down to `bytes`: whole pages.
std::size_t shrunkBytes(std::size_t bytes) noexcept;
void freeBuffer(void* memory) noexcept;

template <typename T> class PodBuffer
{
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodBuffer() = default;
    PodBuffer(PodBuffer&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
          m_capacity(std::exchange(other.m_capacity, 0))
    {
    }
    PodBuffer& operator=(PodBuffer&& other) noexcept
    {
        if (this != &other) {
            release();
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
            m_capacity = std::exchange(other.m_capacity, 0);
        }
        return *this;
    }
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    ~PodBuffer() { release(); }

    T* data() noexcept { return m_data; }
    const T* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }
    std::size_t capacity() const noexcept { return m_capacity; }

    // Room for `count` elements in all.
    void reserve(std::size_t count)
    {
        if (count > m_capacity)
            reallocate(count);
    }
    // Exactly `count` elements whose contents the caller writes.
    void resizeForOverwrite(std::size_t count)
    {
        reserve(count);
        m_size = count;
    }
    void shrinkToFit()
    {
        if (m_size == 0)
            release();
        else if (shrunkBytes(m_size * sizeof(T)) / sizeof(T) < m_capacity) {
            std::size_t granted = 0;
            m_data = static_cast<T*>(shrinkBuffer(m_data, m_size * sizeof(T), granted));
            m_capacity = granted / sizeof(T);
        }
    }
    // Hands the memory over to the caller, who frees it with freeBuffer.
    T* detach() noexcept
    {
        m_size = 0;
        m_capacity = 0;
        return std::exchange(m_data, nullptr);
    }
    void release() noexcept
    {
        freeBuffer(m_data);
        m_data = nullptr;
        m_size = 0;
        m_capacity = 0;
    }
    void push_back(const T& value)
    {
        if (m_size == m_capacity)
            reallocate(m_capacity < 64 ? 64 : m_capacity * 2);
        m_data[m_size++] = value;
    }

private:
    void reallocate(std::size_t capacity)
    {
        if (capacity > static_cast<std::size_t>(-1) / 2 / sizeof(T))
            throw std::bad_alloc();
        std::size_t granted = 0;
        T* fresh = static_cast<T*>(allocateBuffer(capacity * sizeof(T), granted));
        if (m_size > 0)
            std::memcpy(static_cast<void*>(fresh), m_data, m_size * sizeof(T));
        freeBuffer(m_data);
        m_data = fresh;
        m_capacity = granted / sizeof(T);
    }

    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

} // namespace music::internal
