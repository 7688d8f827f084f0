#include "segment.h"

#include "internal/eventbuffer.h"
#include "internal/wide.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace music {

using internal::Wide;

std::uint64_t TempoMap::realTimeOfFine(std::uint64_t fine) const noexcept
{
    auto next = std::upper_bound(m_points.begin(), m_points.end(), fine,
                                 [](std::uint64_t f, const Point& p) { return f < p.fine; });
    const Point& point = *(next - 1); // the first point is at 0
    const Wide denominator = Wide{kTicksPerQuarter} * m_divisor;
    const Wide numerator = Wide{point.remainder} + Wide{fine - point.fine} * point.tempo;
    return point.microseconds + static_cast<std::uint64_t>(numerator / denominator);
}

std::uint64_t TempoMap::realTime(MusicTime time) const noexcept
{
    return realTimeOfFine(static_cast<std::uint64_t>(std::max(time, 0)) * m_divisor);
}

MusicTime TempoMap::musicTime(std::uint64_t microseconds) const noexcept
{
    // The last point that starts no later than `microseconds`.
    auto next = std::upper_bound(
        m_points.begin(), m_points.end(), microseconds, [](std::uint64_t us, const Point& p) {
            return us < p.microseconds || (us == p.microseconds && p.remainder > 0);
        });
    const Point& point = *(next - 1);
    const Wide denominator = Wide{kTicksPerQuarter} * m_divisor;
    const Wide elapsed = Wide{microseconds - point.microseconds} * denominator - point.remainder;
    const Wide fine = Wide{point.fine} + elapsed / point.tempo;
    const Wide time = fine / m_divisor;
    constexpr auto kLast = std::numeric_limits<MusicTime>::max();
    return time > Wide{kLast} ? kLast : static_cast<MusicTime>(time);
}

bool Segment::setStartPoint(MusicTime start) noexcept
{
    // Anywhere from the beginning to the end, both included: a pause at the
    // very end resumes there and ends at once.
    if (start < 0 || start > m_length)
        return false;
    m_startPoint = start;
    return true;
}

Segment::~Segment()
{
    internal::freeBuffer(m_events);
}

std::size_t Segment::indexAt(MusicTime time) const noexcept
{
    const std::span<const Event> all = events();
    const auto first =
        std::lower_bound(all.begin(), all.end(), time,
                         [](const Event& event, MusicTime value) { return event.time() < value; });
    return static_cast<std::size_t>(first - all.begin());
}

std::size_t Segment::indexOf(const Event& event) const noexcept
{
    assert(&event >= m_events && &event < m_events + m_eventCount &&
           "an event of this segment, not a copy");
    return static_cast<std::size_t>(&event - m_events);
}

const Segment::Payload* Segment::payloadOf(const Event& event) const noexcept
{
    const auto index = static_cast<std::uint32_t>(indexOf(event));
    const auto found = std::lower_bound(
        m_payloads.begin(), m_payloads.end(), index,
        [](const Payload& payload, std::uint32_t at) { return payload.event < at; });
    return found != m_payloads.end() && found->event == index ? &*found : nullptr;
}

MessageBytes Segment::bytes(const Event& event) const noexcept
{
    MessageBytes result;
    if (event.isChannel()) {
        result.m_inline = {event.m_status, event.m_data1, event.m_data2};
        const std::uint8_t kind = event.m_status & 0xF0;
        result.m_size = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
        return result;
    }
    if (const Payload* payload = payloadOf(event)) {
        result.m_external = m_payloadBytes.data() + payload->offset;
        result.m_size = payload->size;
    }
    return result;
}

std::uint8_t Segment::metaType(const Event& event) const noexcept
{
    if (!event.isMeta())
        return 0;
    const Payload* payload = payloadOf(event);
    return payload ? payload->type : 0;
}

int Segment::track(const Event& event) const noexcept
{
    const unsigned escape = (1u << m_trackBits) - 1;
    const unsigned inlineTrack = event.m_place & escape;
    if (inlineTrack != escape)
        return static_cast<int>(inlineTrack);
    const auto index = static_cast<std::uint32_t>(indexOf(event));
    const auto next =
        std::upper_bound(m_trackRuns.begin(), m_trackRuns.end(), index,
                         [](std::uint32_t at, const TrackRun& run) { return at < run.event; });
    return next == m_trackRuns.begin() ? static_cast<int>(escape)
                                       : static_cast<int>((next - 1)->track);
}

std::uint64_t Segment::fineTime(const Event& event) const noexcept
{
    // The event lies on the file's tick `offset` after the first tick that
    // falls on its music tick: ceil(time * divisor / finePerTick).
    const std::uint64_t divisor = m_tempoMap.m_divisor;
    const std::uint64_t first =
        (static_cast<std::uint64_t>(event.m_time) * divisor + m_finePerTick - 1) / m_finePerTick;
    const unsigned offset = static_cast<unsigned>(event.m_place) >> m_trackBits;
    return (first + offset) * m_finePerTick;
}

std::uint64_t Segment::realTime(const Event& event) const noexcept
{
    return m_tempoMap.realTimeOfFine(fineTime(event));
}

std::size_t Segment::memoryUsage() const noexcept
{
    std::size_t total = sizeof(*this);
    total += m_eventBytes;
    total += m_payloads.capacity() * sizeof(Payload);
    total += m_payloadBytes.capacity();
    total += m_trackRuns.capacity() * sizeof(TrackRun);
    total += m_tempoMap.m_points.capacity() * sizeof(TempoMap::Point);
    total += m_tempoMap.m_changes.capacity() * sizeof(TempoMap::Change);
    total += m_timeSignatures.capacity() * sizeof(TimeSignature);
    total += m_keySignatures.capacity() * sizeof(KeySignature);
    for (const std::string& warning : m_warnings)
        total += sizeof(std::string) + warning.capacity();
    return total;
}

} // namespace music
