// Notifications of the performance (a segment started, ended, was stopped),
// waiting to be taken one at a time. The queue's handle is an eventfd in
// semaphore mode: each queued notification adds one, each wait takes one, so
// a notification can never be left behind without a wake-up for it.
//
// Threads: post() from any thread; wait() from one waiting thread; take()
// from the thread that handles notifications. close() wakes the waiter for good.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace music {

enum class NotificationType
{
    Segment
};
enum class SegmentOption
{
    Start = 0,
    End = 1,
    AlmostEnd = 2,
    Loop = 3,
    Abort = 4
};

struct Notification
{
    NotificationType type = NotificationType::Segment;
    SegmentOption option = SegmentOption::Start;
    std::uint64_t instance = 0; // the segment instance it concerns
    std::int64_t time = 0;      // the port time it happened at
};

class NotificationQueue
{
public:
    NotificationQueue();
    ~NotificationQueue();
    NotificationQueue(const NotificationQueue&) = delete;
    NotificationQueue& operator=(const NotificationQueue&) = delete;

    bool isValid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    void post(const Notification& notification);
    // The oldest notification, or nothing when none waits.
    std::optional<Notification> take();
    std::size_t size() const;

    // Blocks until a notification was posted (true) or the queue closed (false).
    bool wait();
    // Wakes the waiting thread; every later wait() returns false at once.
    void close();

private:
    int m_fd = -1;
    mutable std::mutex m_mutex;
    std::deque<Notification> m_queue;
    bool m_closed = false;
};

} // namespace music
