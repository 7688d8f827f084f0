#include "notificationqueue.h"

#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

namespace music {
namespace {

// Large enough that a closed queue keeps every later wait awake.
constexpr std::uint64_t kClosedCount = 1ULL << 40;

} // namespace

NotificationQueue::NotificationQueue() : m_fd(::eventfd(0, EFD_SEMAPHORE | EFD_CLOEXEC)) {}

NotificationQueue::~NotificationQueue()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void NotificationQueue::post(const Notification& notification)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_queue.push_back(notification);
    }
    const std::uint64_t one = 1;
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

std::optional<Notification> NotificationQueue::take()
{
    std::lock_guard lock(m_mutex);
    if (m_queue.empty())
        return std::nullopt;
    Notification first = m_queue.front();
    m_queue.pop_front();
    return first;
}

std::size_t NotificationQueue::size() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

bool NotificationQueue::wait()
{
    std::uint64_t value = 0;
    while (::read(m_fd, &value, sizeof value) < 0) {
        if (errno != EINTR)
            return false;
    }
    std::lock_guard lock(m_mutex);
    return !m_closed;
}

void NotificationQueue::close()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
    }
    const std::uint64_t many = kClosedCount;
    while (::write(m_fd, &many, sizeof many) < 0 && errno == EINTR) {
    }
}

} // namespace music
