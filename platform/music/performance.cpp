#include "performance.h"

#include "crashstack.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <chrono>

namespace music {
namespace {

// With nothing playing the clock runs at 120 beats per minute: 768 ticks
// every 500000 microseconds, that is 24 ticks every 15625.
constexpr std::int64_t kIdleTicks = 24;
constexpr std::int64_t kIdleMicroseconds = 15625;
constexpr std::int64_t kAliveCheckInterval = 100000;
// A pass hands over the messages of this stretch beyond the lookahead's edge.
constexpr std::int64_t kRefill = 30000;
// The scheduler thread sleeps at least this long between passes, and this long
// when the port's queue was full.
constexpr std::int64_t kShortestWait = 1000;
constexpr std::int64_t kRetryWhenFull = 2000;

std::int64_t steadyMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::vector<Instrument> instrumentsPlayed(const Segment& segment)
{
    // Each channel starts on program 0 of bank 0; the General MIDI System On
    // message puts every channel back there.
    std::array<Instrument, 16> current{};
    auto reset = [&current] {
        for (std::size_t c = 0; c < current.size(); ++c)
            current[c] = Instrument{0, 0, c == 9};
    };
    reset();
    std::vector<Instrument> played;
    std::bitset<2 * 128 * 128> seen;
    for (const Event& e : segment.events()) {
        if (e.status() == 0xF0) {
            const MessageBytes bytes = segment.bytes(e);
            if (bytes.size() >= 5 && bytes[1] == 0x7E && bytes[3] == 0x09 && bytes[4] == 0x01)
                reset();
            continue;
        }
        if (!e.isChannel())
            continue;
        Instrument& channel = current[e.status() & 0x0F];
        switch (e.status() & 0xF0) {
        case 0x90: {
            const std::size_t key =
                (channel.percussion ? 128 * 128 : 0) + channel.bank * 128u + channel.program;
            if (e.data2() != 0 && !seen.test(key)) {
                seen.set(key);
                played.push_back(channel);
            }
            break;
        }
        case 0xB0:
            if (e.data1() == 0)
                channel.bank = e.data2();
            break;
        case 0xC0:
            channel.program = e.data1();
            break;
        default:
            break;
        }
    }
    std::sort(played.begin(), played.end());
    return played;
}

Result SegmentState::GetSeek(MusicTime& seek) const
{
    if (m_finished.load(std::memory_order_acquire)) {
        seek = m_finalSeek.load(std::memory_order_relaxed);
        return Result::Ok;
    }
    if (!m_performance)
        return Result::Failed;
    seek = m_performance->seekOf(*this);
    return Result::Ok;
}

Performance::Performance(Clock clock) : m_clockKind(clock) {}

Performance::~Performance()
{
    CloseDown();
}

Result Performance::Init()
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return Result::Ok;
    m_running = true;
    m_ownClockStart = steadyMicroseconds();
    m_anchorClock = 0;
    m_anchorTime = 0;
    if (m_clockKind == Clock::RealTime) {
        m_stopScheduler = false;
        m_scheduler = std::thread([this] {
            crashstack::prepareThisThread();
            schedulerLoop();
        });
    }
    return Result::Ok;
}

void Performance::CloseDown()
{
    Stop();
    {
        std::lock_guard lock(m_mutex);
        m_stopScheduler = true;
        m_running = false;
        m_port = nullptr;
    }
    m_wake.notify_all();
    if (m_scheduler.joinable())
        m_scheduler.join();
}

void Performance::SetNotificationHandle(NotificationQueue* queue)
{
    std::lock_guard lock(m_mutex);
    m_notifications = queue;
}

void Performance::AddNotificationType(NotificationType type)
{
    std::lock_guard lock(m_mutex);
    if (type == NotificationType::Segment)
        m_segmentNotifications = true;
}

Result Performance::GetNotificationPMsg(Notification& notification)
{
    NotificationQueue* queue = nullptr;
    {
        std::lock_guard lock(m_mutex);
        queue = m_notifications;
    }
    if (!queue)
        return Result::Failed;
    const auto taken = queue->take();
    if (!taken)
        return Result::NothingFound;
    notification = *taken;
    return Result::Ok;
}

Result Performance::AddPort(Port* port)
{
    if (!port)
        return Result::Failed;
    std::lock_guard lock(m_mutex);
    // The music clock goes on where it was, now counted on the port's clock.
    const MusicTime now = musicTimeLocked(clockLocked());
    m_port = port;
    m_anchorClock = port->now();
    m_anchorTime = now;
    return Result::Ok;
}

Result Performance::RemovePort(Port* port)
{
    std::unique_lock lock(m_mutex);
    if (!port || port != m_port)
        return Result::Failed;
    const std::int64_t clock = clockLocked();
    if (m_instance)
        endInstanceLocked(SegmentOption::Abort, clock);
    port->silence();
    const MusicTime now = musicTimeLocked(clock);
    m_port = nullptr;
    m_anchorClock = clockLocked();
    m_anchorTime = now;
    return Result::Ok;
}

Result Performance::AssignPChannelBlock(int block, Port* port, int group)
{
    std::lock_guard lock(m_mutex);
    // One port with one group of 16 channels is all there is to assign.
    return block == 0 && group == 1 && port && port == m_port ? Result::Ok : Result::Failed;
}

std::int64_t Performance::clockLocked() const
{
    if (m_port)
        return m_port->now();
    return m_clockKind == Clock::RealTime ? steadyMicroseconds() - m_ownClockStart : 0;
}

std::int64_t Performance::clockTime()
{
    std::lock_guard lock(m_mutex);
    return clockLocked();
}

MusicTime Performance::musicTimeLocked(std::int64_t clock) const
{
    if (m_instance && clock >= m_instance->startClock) {
        const Instance& in = *m_instance;
        if (clock >= in.endClock)
            return in.endTime + MusicTime((clock - in.endClock) * kIdleTicks / kIdleMicroseconds);
        const std::uint64_t real = in.startRealOffset + std::uint64_t(clock - in.startClock);
        const MusicTime inPiece = in.segment->tempoMap().musicTime(real);
        return in.state->m_startTime + std::max<MusicTime>(0, inPiece - in.startPoint);
    }
    const std::int64_t elapsed = std::max<std::int64_t>(0, clock - m_anchorClock);
    return m_anchorTime + MusicTime(elapsed * kIdleTicks / kIdleMicroseconds);
}

std::int64_t Performance::clockOfIdleMusicTime(MusicTime time) const
{
    const std::int64_t ticks = std::max<std::int64_t>(0, std::int64_t(time) - m_anchorTime);
    return m_anchorClock + (ticks * kIdleMicroseconds + kIdleTicks - 1) / kIdleTicks;
}

Result Performance::GetTime(MusicTime& time)
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return Result::Failed;
    time = musicTimeLocked(clockLocked());
    return Result::Ok;
}

Result Performance::PlaySegment(const std::shared_ptr<Segment>& segment, std::uint32_t flags,
                                std::shared_ptr<SegmentState>* state)
{
    if (!segment)
        return Result::Failed;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running)
            return Result::Failed;
        const std::int64_t now = clockLocked();
        if (m_instance) {
            endInstanceLocked(SegmentOption::Abort, now);
            if (m_port)
                m_port->silence();
        }
        // The idle clock keeps its anchor, so that beats fall on exact times.
        const MusicTime nowTime = musicTimeLocked(now);
        const MusicTime startTime = (flags & kStartAtBeat) ? (nowTime + kTicksPerQuarter - 1) /
                                                                 kTicksPerQuarter * kTicksPerQuarter
                                                           : nowTime;

        Instance in;
        in.segment = segment;
        in.startPoint = segment->startPoint();
        in.startRealOffset = segment->tempoMap().realTime(in.startPoint);
        in.startClock = clockOfIdleMusicTime(startTime);
        const std::uint64_t lengthReal = segment->tempoMap().realTime(segment->length());
        in.endClock =
            in.startClock + std::int64_t(lengthReal - std::min(lengthReal, in.startRealOffset));
        in.endTime = startTime + (segment->length() - in.startPoint);
        in.nextEvent = segment->indexAt(in.startPoint);
        in.state = std::make_shared<SegmentState>();
        in.state->m_id = m_nextInstanceId++;
        in.state->m_startTime = startTime;
        in.state->m_performance = this;
        if (state)
            *state = in.state;
        m_instance = std::move(in);
        pumpLocked();
    }
    m_wake.notify_all();
    return Result::Ok;
}

Result Performance::Stop()
{
    std::lock_guard lock(m_mutex);
    if (m_instance)
        endInstanceLocked(SegmentOption::Abort, clockLocked());
    if (m_port)
        m_port->silence();
    return Result::Ok;
}

Result Performance::GetSegmentState(std::shared_ptr<SegmentState>& state, MusicTime time)
{
    std::lock_guard lock(m_mutex);
    if (m_instance && time >= m_instance->state->m_startTime && time < m_instance->endTime) {
        state = m_instance->state;
        return Result::Ok;
    }
    return Result::NothingFound;
}

Result Performance::SendSysEx(std::span<const std::uint8_t> message)
{
    std::lock_guard lock(m_mutex);
    if (!m_port || message.empty() || message.front() != 0xF0)
        return Result::Failed;
    return m_port->sendNow(message);
}

MusicTime Performance::seekOf(const SegmentState& state) const
{
    std::lock_guard lock(m_mutex);
    if (state.m_finished.load(std::memory_order_acquire))
        return state.m_finalSeek.load(std::memory_order_relaxed);
    if (!m_instance || m_instance->state.get() != &state)
        return 0;
    const Instance& in = *m_instance;
    const MusicTime played =
        std::max<MusicTime>(0, musicTimeLocked(clockLocked()) - state.m_startTime);
    return std::min(in.segment->length(), in.startPoint + played);
}

void Performance::post(SegmentOption option, std::uint64_t instance, std::int64_t clock)
{
    if (m_notifications && m_segmentNotifications)
        m_notifications->post({NotificationType::Segment, option, instance, clock});
}

void Performance::endInstanceLocked(SegmentOption option, std::int64_t clock)
{
    Instance& in = *m_instance;
    const MusicTime endOfPlay =
        option == SegmentOption::End ? in.endTime : std::min(in.endTime, musicTimeLocked(clock));
    const MusicTime seek =
        option == SegmentOption::End
            ? in.segment->length()
            : std::min(in.segment->length(),
                       in.startPoint + std::max<MusicTime>(0, endOfPlay - in.state->m_startTime));
    in.state->m_finalSeek.store(seek, std::memory_order_relaxed);
    in.state->m_finished.store(true, std::memory_order_release);
    const std::uint64_t id = in.state->m_id;
    const MusicTime nowTime = musicTimeLocked(clock);
    m_instance.reset();
    m_anchorClock = clock;
    m_anchorTime = nowTime;
    post(option, id, clock);
}

std::vector<std::vector<std::uint8_t>> Performance::chaseMessages(const Instance& in) const
{
    // The state in force at the start point: system exclusive setups in
    // order, then per channel the controllers in the order they last changed
    // (so that parameter-number selections precede their data), the program
    // (after its bank select), channel pressure and pitch bend.
    struct Channel
    {
        std::vector<std::array<std::uint8_t, 2>> controllers;
        std::optional<std::uint8_t> program;
        std::optional<std::uint8_t> pressure;
        std::optional<std::array<std::uint8_t, 2>> bend;
    };
    std::array<Channel, 16> channels;
    std::vector<std::vector<std::uint8_t>> messages;
    const Segment& segment = *in.segment;
    const auto events = segment.events();
    for (std::size_t i = 0; i < in.nextEvent && i < events.size(); ++i) {
        const Event& e = events[i];
        if (e.status() == 0xF0) {
            const MessageBytes bytes = segment.bytes(e);
            messages.emplace_back(bytes.begin(), bytes.end());
            continue;
        }
        if (!e.isChannel())
            continue;
        Channel& channel = channels[e.status() & 0x0F];
        switch (e.status() & 0xF0) {
        case 0xB0:
            if (e.data1() < 120) {
                std::erase_if(channel.controllers,
                              [&e](const auto& c) { return c[0] == e.data1(); });
                channel.controllers.push_back({e.data1(), e.data2()});
            }
            break;
        case 0xC0:
            channel.program = e.data1();
            break;
        case 0xD0:
            channel.pressure = e.data1();
            break;
        case 0xE0:
            channel.bend = std::array<std::uint8_t, 2>{e.data1(), e.data2()};
            break;
        default:
            break;
        }
    }
    for (std::uint8_t c = 0; c < 16; ++c) {
        const Channel& channel = channels[c];
        for (const auto& controller : channel.controllers)
            messages.push_back({std::uint8_t(0xB0 | c), controller[0], controller[1]});
        if (channel.program)
            messages.push_back({std::uint8_t(0xC0 | c), *channel.program});
        if (channel.pressure)
            messages.push_back({std::uint8_t(0xD0 | c), *channel.pressure});
        if (channel.bend)
            messages.push_back({std::uint8_t(0xE0 | c), (*channel.bend)[0], (*channel.bend)[1]});
    }
    return messages;
}

void Performance::pump()
{
    std::lock_guard lock(m_mutex);
    pumpLocked();
}

Performance::NextPass Performance::pumpLocked()
{
    if (!m_port || !m_instance)
        return {};
    const std::int64_t now = clockLocked();
    Instance& in = *m_instance;
    if (!in.chased) {
        in.chase = chaseMessages(in);
        in.chased = true;
    }
    // A message the port cannot take now stays next in line: nothing is
    // skipped, the next pass starts with it.
    bool full = false;
    auto handOver = [this, &full](std::int64_t at, std::span<const std::uint8_t> message) {
        const Result result = m_port->schedule(at, message);
        full = result == Result::Failed;
        return !full;
    };
    while (in.nextChase < in.chase.size() && handOver(in.startClock, in.chase[in.nextChase]))
        ++in.nextChase;
    const Segment& segment = *in.segment;
    const auto events = segment.events();
    const std::int64_t horizon = now + kLookahead;
    std::int64_t nextDue = in.endClock;
    while (!full && in.nextEvent < events.size()) {
        const Event& e = events[in.nextEvent];
        if (!e.isMeta() && e.status() != 0xF7) {
            const std::int64_t at =
                in.startClock + std::int64_t(segment.realTime(e) - in.startRealOffset);
            if (at > horizon) {
                nextDue = at;
                break;
            }
            const MessageBytes bytes = segment.bytes(e);
            if (!handOver(at, {bytes.data(), bytes.size()}))
                break;
        }
        ++in.nextEvent;
    }
    if (!in.startPosted && now >= in.startClock) {
        in.startPosted = true;
        post(SegmentOption::Start, in.state->m_id, in.startClock);
    }
    if (full || now - m_lastAliveCheck >= kAliveCheckInterval) {
        m_lastAliveCheck = now;
        if (!m_port->isAlive()) {
            // The device went away while playing: the playing ends there.
            endInstanceLocked(SegmentOption::Abort, now);
            return {};
        }
    }
    // The end comes once its time has come and everything has been handed over.
    const bool allHandedOver = in.nextChase == in.chase.size() && in.nextEvent == events.size();
    if (allHandedOver && now >= in.endClock) {
        endInstanceLocked(SegmentOption::End, in.endClock);
        return {};
    }
    NextPass next;
    next.playing = true;
    next.portFull = full;
    // Wake when the next message comes within reach of the lookahead (less a
    // margin, so that each pass hands over a stretch rather than one message),
    // for the start notification, for the end, and for the next check that
    // the device is still there.
    next.clock = std::min({allHandedOver ? in.endClock : nextDue - kLookahead + kRefill,
                           in.startPosted ? in.endClock : in.startClock, in.endClock,
                           m_lastAliveCheck + kAliveCheckInterval});
    return next;
}

void Performance::schedulerLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopScheduler) {
        const NextPass next = pumpLocked();
        if (!next.playing) {
            // Nothing to play: sleep until PlaySegment() or CloseDown() wakes us.
            m_wake.wait(lock);
            continue;
        }
        // A full port drains as it plays: look again soon.
        const std::int64_t wait =
            next.portFull ? kRetryWhenFull
                          : std::clamp<std::int64_t>(next.clock - clockLocked(), kShortestWait,
                                                     kAliveCheckInterval);
        m_wake.wait_for(lock, std::chrono::microseconds(wait));
    }
}

} // namespace music
