// A loaded piece of music: every track's events merged in time order, with the
// tempo map, time and key signatures and the piece's length, all in music time.
// Read-only once loaded (but for the start point): any number of threads may
// read one segment at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace music {

// The performance's tempo-relative clock.
using MusicTime = std::int32_t;
inline constexpr MusicTime kTicksPerQuarter = 768;
// Microseconds per quarter note until the first tempo event (120 beats per minute).
inline constexpr std::uint32_t kDefaultTempo = 500000;

namespace internal {
class SmfParser;
}

// One event of a segment, packed into 8 bytes: a channel message keeps its data
// bytes here, SysEx and meta events keep theirs in the segment (see
// Segment::bytes). Its track and its exact position on the file's own clock
// are also the segment's to tell (Segment::track, Segment::realTime).
class Event
{
public:
    MusicTime time() const noexcept { return m_time; }
    // Channel status byte, 0xF0 for a complete SysEx message, 0xF7 for bytes sent
    // as they are (an escape), 0xFF for a meta event.
    std::uint8_t status() const noexcept { return m_status; }
    bool isChannel() const noexcept { return m_status < 0xF0; }
    bool isSysEx() const noexcept { return m_status == 0xF0 || m_status == 0xF7; }
    bool isMeta() const noexcept { return m_status == 0xFF; }
    // Data bytes of a channel message; 0 where the message has fewer, and for
    // other events.
    std::uint8_t data1() const noexcept { return m_data1; }
    std::uint8_t data2() const noexcept { return m_data2; }

private:
    friend class Segment;
    friend class internal::SmfParser;

    std::uint8_t m_status = 0;
    std::uint8_t m_data1 = 0;
    std::uint8_t m_data2 = 0;
    // The file's ticks that fall on one music tick, counted from the first (high
    // bits), and the track (low bits; all ones where the segment's table of
    // track runs holds it). Which bits are which is the segment's choice.
    std::uint8_t m_place = 0;
    MusicTime m_time = 0;
};
static_assert(sizeof(Event) == 8, "an event must fit in 8 bytes");

// The bytes of one event: a short channel message is held inline, longer data
// points into the segment (valid as long as the segment lives).
class MessageBytes
{
public:
    const std::uint8_t* data() const noexcept { return m_external ? m_external : m_inline.data(); }
    std::size_t size() const noexcept { return m_size; }
    const std::uint8_t* begin() const noexcept { return data(); }
    const std::uint8_t* end() const noexcept { return data() + m_size; }
    std::uint8_t operator[](std::size_t index) const noexcept { return data()[index]; }

private:
    friend class Segment;
    std::array<std::uint8_t, 3> m_inline{};
    const std::uint8_t* m_external = nullptr;
    std::size_t m_size = 0;
};

struct TimeSignature
{
    MusicTime time = 0;
    std::uint8_t numerator = 4;
    std::uint8_t denominatorPower = 2; // the denominator is 2 to this power
    std::uint8_t clocksPerClick = 24;
    std::uint8_t thirtySecondsPerQuarter = 8;
};

struct KeySignature
{
    MusicTime time = 0;
    std::int8_t sharps = 0; // negative: flats
    bool minor = false;
};

// Tempo changes and the conversion between music time and real time. Exact: real
// time is computed from the file's own ticks with integer arithmetic, so rounding
// to music time never accumulates.
class TempoMap
{
public:
    struct Change
    {
        MusicTime time = 0;
        std::uint32_t microsecondsPerQuarter = kDefaultTempo;
    };

    // Always holds at least the tempo at time 0.
    const std::vector<Change>& changes() const noexcept { return m_changes; }
    // Microseconds from the start of the piece to `time`, rounded down.
    std::uint64_t realTime(MusicTime time) const noexcept;
    // The music time reached after `microseconds`, rounded down.
    MusicTime musicTime(std::uint64_t microseconds) const noexcept;

private:
    friend class Segment;
    friend class internal::SmfParser;

    // Positions are in fine units: music time times m_divisor plus the rounding
    // remainder. A point's real time is microseconds + remainder / (768 * divisor).
    struct Point
    {
        std::uint64_t fine = 0;
        std::uint32_t tempo = kDefaultTempo;
        std::uint64_t microseconds = 0;
        std::uint64_t remainder = 0;
    };
    std::uint64_t realTimeOfFine(std::uint64_t fine) const noexcept;

    std::vector<Point> m_points{Point{}};
    std::vector<Change> m_changes{Change{}};
    std::uint32_t m_divisor = 1;
};

class Segment
{
public:
    Segment() = default;
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    ~Segment();

    int format() const noexcept { return m_format; }
    int trackCount() const noexcept { return m_trackCount; }
    // The header's division: ticks per quarter note, or negative for SMPTE
    // (frames per second in the high byte, ticks per frame in the low byte).
    int division() const noexcept { return m_division; }

    // The latest end of track of all tracks.
    MusicTime length() const noexcept { return m_length; }
    // Where the next play begins; false (and unchanged) when out of the piece.
    bool setStartPoint(MusicTime start) noexcept;
    MusicTime startPoint() const noexcept { return m_startPoint; }

    // Sorted by time; events at the same time by their exact position on the
    // file's clock, then by track, then as the track holds them.
    std::span<const Event> events() const noexcept { return {m_events, m_eventCount}; }
    // The index of the first event at or after `time` (events().size() if none):
    // where playing from a start point begins.
    std::size_t indexAt(MusicTime time) const noexcept;

    // What an event tells beyond itself. `event` is one of this segment's
    // events(), not a copy.
    //
    // What the event sends: the channel message with its status byte, the SysEx
    // bytes, or for a meta event its data (without type and length).
    MessageBytes bytes(const Event& event) const noexcept;
    // The meta event's type; 0 for other events.
    std::uint8_t metaType(const Event& event) const noexcept;
    // The track chunk the event comes from, counted from 0.
    int track(const Event& event) const noexcept;
    // Microseconds from the start to the event, exact to the file's own tick.
    std::uint64_t realTime(const Event& event) const noexcept;

    const TempoMap& tempoMap() const noexcept { return m_tempoMap; }
    const std::vector<TimeSignature>& timeSignatures() const noexcept { return m_timeSignatures; }
    const std::vector<KeySignature>& keySignatures() const noexcept { return m_keySignatures; }
    // Damage found and worked around while loading, one line each.
    const std::vector<std::string>& warnings() const noexcept { return m_warnings; }

    // Bytes of memory the segment holds.
    std::size_t memoryUsage() const noexcept;

private:
    friend class internal::SmfParser;

    // The data of a SysEx or meta event, found by the event's index.
    struct Payload
    {
        std::uint32_t event = 0;
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
        std::uint8_t type = 0;
    };
    // From `event` on, events whose track is not held inline come from `track`.
    struct TrackRun
    {
        std::uint32_t event = 0;
        std::uint32_t track = 0;
    };
    std::size_t indexOf(const Event& event) const noexcept;
    const Payload* payloadOf(const Event& event) const noexcept;
    std::uint64_t fineTime(const Event& event) const noexcept;

    int m_format = 0;
    int m_trackCount = 0;
    int m_division = 0;
    MusicTime m_length = 0;
    MusicTime m_startPoint = 0;
    // How m_place is split: the low m_trackBits bits hold the track.
    unsigned m_trackBits = 8;
    // One tick of the file in fine units (see TempoMap).
    std::uint32_t m_finePerTick = kTicksPerQuarter;
    // The loader's buffer, handed over: freed by the destructor.
    Event* m_events = nullptr;
    std::size_t m_eventCount = 0;
    std::size_t m_eventBytes = 0;
    std::vector<Payload> m_payloads;
    std::vector<std::uint8_t> m_payloadBytes;
    std::vector<TrackRun> m_trackRuns;
    TempoMap m_tempoMap;
    std::vector<TimeSignature> m_timeSignatures;
    std::vector<KeySignature> m_keySignatures;
    std::vector<std::string> m_warnings;
};

} // namespace music
