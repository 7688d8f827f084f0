// The performance: plays segments on an output port, keeps the music clock
// (768 ticks per quarter note) and tells about segments that start, end or
// are stopped.
//
// No message is ever dropped: when the port's queue is full the performance
// holds back and hands the rest over as the queue drains, catching up on
// time, and a playing ends only once all of it has gone to the port.
//
// Threads: the control operations come from the user-interface thread. With
// the real-time clock a scheduler thread of the performance hands the
// playing segment's messages to the port a little ahead of their time and
// notices the segment's end; it sleeps until the next message is due (or
// the port has room again), and without a playing until it is given one.
// With the offline clock there is no thread: the caller calls pump() before
// it renders each stretch of audio. One mutex guards the performance's state
// between those two; the port's own audio thread never takes it.
#pragma once

#include "notificationqueue.h"
#include "port.h"
#include "result.h"
#include "segment.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace music {

class Performance;

// The instruments `segment` plays notes with, each once, in order.
std::vector<Instrument> instrumentsPlayed(const Segment& segment);

// One playing of a segment.
class SegmentState
{
public:
    std::uint64_t id() const { return m_id; }
    // The performance's music time at which this playing starts.
    MusicTime GetStartTime() const { return m_startTime; }
    // The position in the piece: the start point plus what has played since.
    Result GetSeek(MusicTime& seek) const;

private:
    friend class Performance;
    std::uint64_t m_id = 0;
    MusicTime m_startTime = 0;
    Performance* m_performance = nullptr;
    // Set once it no longer plays; from then on the performance is not asked.
    std::atomic<bool> m_finished{false};
    std::atomic<MusicTime> m_finalSeek{0};
};

class Performance
{
public:
    enum class Clock
    {
        RealTime,
        Offline
    };
    // Start at the next beat of the performance's clock rather than at once.
    static constexpr std::uint32_t kStartAtBeat = 0x1000;
    // How far ahead of the port's clock messages are handed over.
    static constexpr std::int64_t kLookahead = 150000;

    explicit Performance(Clock clock = Clock::RealTime);
    ~Performance();
    Performance(const Performance&) = delete;
    Performance& operator=(const Performance&) = delete;

    Result Init();
    void CloseDown();

    // Notifications of segment instances go to `queue` once asked for.
    void SetNotificationHandle(NotificationQueue* queue);
    void AddNotificationType(NotificationType type);
    // The oldest queued notification: Ok, or NothingFound when none waits.
    Result GetNotificationPMsg(Notification& notification);

    Result AddPort(Port* port);
    Result RemovePort(Port* port);
    // Performance channels 16*block to 16*block+15 go to channel group `group` of `port`.
    Result AssignPChannelBlock(int block, Port* port, int group);

    // Plays `segment` from its start point. `state` receives the new playing.
    Result PlaySegment(const std::shared_ptr<Segment>& segment, std::uint32_t flags,
                       std::shared_ptr<SegmentState>* state);
    // Stops everything at once: nothing more is sent, every channel falls silent.
    Result Stop();
    // The current music time.
    Result GetTime(MusicTime& time);
    // The playing instance at music time `time`: Ok, or NothingFound when none plays then.
    Result GetSegmentState(std::shared_ptr<SegmentState>& state, MusicTime time);
    // Sends a system exclusive message ahead of everything queued.
    Result SendSysEx(std::span<const std::uint8_t> message);

    // Offline clock: hands over the messages due up to the lookahead (as many
    // as the port takes) and posts the notifications that are due. (The
    // scheduler thread does the same with the real-time clock.)
    void pump();
    // The port's clock, or the performance's own when no port is there.
    std::int64_t clockTime();

private:
    friend class SegmentState;

    struct Instance
    {
        std::shared_ptr<SegmentState> state;
        std::shared_ptr<Segment> segment;
        MusicTime startPoint = 0;
        MusicTime endTime = 0;             // performance music time of the end
        std::int64_t startClock = 0;       // port time of the start point
        std::int64_t endClock = 0;         // port time of the end
        std::uint64_t startRealOffset = 0; // real time of the start point in the piece
        std::size_t nextEvent = 0;
        // The state in force at the start point, sent first.
        std::vector<std::vector<std::uint8_t>> chase;
        std::size_t nextChase = 0;
        bool chased = false;
        bool startPosted = false;
    };
    // What the scheduler thread waits for after a pass.
    struct NextPass
    {
        bool playing = false;
        bool portFull = false;
        std::int64_t clock = 0; // the port time of the next thing to do
    };

    std::int64_t clockLocked() const;
    MusicTime musicTimeLocked(std::int64_t clock) const;
    std::int64_t clockOfIdleMusicTime(MusicTime time) const;
    NextPass pumpLocked();
    void endInstanceLocked(SegmentOption option, std::int64_t clock);
    void post(SegmentOption option, std::uint64_t instance, std::int64_t clock);
    MusicTime seekOf(const SegmentState& state) const;
    std::vector<std::vector<std::uint8_t>> chaseMessages(const Instance& instance) const;
    void schedulerLoop();

    Clock m_clockKind;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_scheduler;
    bool m_running = false;
    bool m_stopScheduler = false;

    Port* m_port = nullptr;
    NotificationQueue* m_notifications = nullptr;
    bool m_segmentNotifications = false;
    std::optional<Instance> m_instance;
    std::uint64_t m_nextInstanceId = 1;
    // With nothing playing the clock runs at 120 beats per minute from here.
    std::int64_t m_anchorClock = 0;
    MusicTime m_anchorTime = 0;
    std::int64_t m_ownClockStart = 0;
    std::int64_t m_lastAliveCheck = 0;
};

} // namespace music
