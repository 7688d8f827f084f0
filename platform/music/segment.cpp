#include "segment.h"

#include "internal/wide.h"

#include <algorithm>
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

std::size_t Segment::indexAt(MusicTime time) const noexcept
{
    const std::span<const Event> all = events();
    const auto first =
        std::lower_bound(all.begin(), all.end(), time,
                         [](const Event& event, MusicTime value) { return event.time() < value; });
    return static_cast<std::size_t>(first - all.begin());
}

MessageBytes Segment::bytes(const Event& event) const noexcept
{
    MessageBytes result;
    if (event.isChannel()) {
        result.m_inline = {event.m_status, event.data1(), event.data2()};
        const std::uint8_t kind = event.m_status & 0xF0;
        result.m_size = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
        return result;
    }
    const Payload& payload = m_payloads[event.m_word];
    result.m_external = m_payloadBytes.data() + payload.offset;
    result.m_size = payload.size;
    return result;
}

std::uint8_t Segment::metaType(const Event& event) const noexcept
{
    return event.isMeta() ? m_payloads[event.m_word].type : 0;
}

std::uint64_t Segment::fineTime(const Event& event) const noexcept
{
    const std::uint32_t remainder =
        event.isChannel() ? (event.m_word >> 16) | (std::uint32_t{event.m_remainderHigh} << 16)
                          : m_payloads[event.m_word].remainder;
    return static_cast<std::uint64_t>(event.m_time) * m_tempoMap.m_divisor + remainder;
}

std::uint64_t Segment::realTime(const Event& event) const noexcept
{
    return m_tempoMap.realTimeOfFine(fineTime(event));
}

std::size_t Segment::memoryUsage() const noexcept
{
    std::size_t total = sizeof(*this);
    total += m_events.capacity() * sizeof(Event);
    total += m_payloads.capacity() * sizeof(Payload);
    total += m_payloadBytes.capacity();
    total += m_tempoMap.m_points.capacity() * sizeof(TempoMap::Point);
    total += m_tempoMap.m_changes.capacity() * sizeof(TempoMap::Change);
    total += m_timeSignatures.capacity() * sizeof(TimeSignature);
    total += m_keySignatures.capacity() * sizeof(KeySignature);
    for (const std::string& warning : m_warnings)
        total += sizeof(std::string) + warning.capacity();
    return total;
}

} // namespace music
