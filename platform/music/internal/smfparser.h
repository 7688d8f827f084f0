// Turns the bytes of a Standard MIDI File or RIFF MIDI file into a segment.
#pragma once

#include "../loader.h"
#include "eventbuffer.h"
#include "exactdivider.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace music::internal {

class SmfParser
{
public:
    // Files from this size on are refused: payload offsets are 32-bit.
    static constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 31;
    // The most warnings a segment keeps; further ones are only counted.
    static constexpr std::size_t kMaxWarnings = 100;

    static LoadResult parse(std::span<const std::uint8_t> file);
    // Why a file of `size` bytes (kMaxFileSize or more) is refused.
    static std::string tooLargeReason(std::uint64_t size);

private:
    struct Timed
    {
        std::uint64_t fine;
        std::uint32_t value; // a tempo, or packed signature bytes
        std::uint32_t track;
    };

    // One track chunk being read: its events are parsed in batches, so that the
    // merge takes them while they are still in the cache.
    struct TrackReader
    {
        int index = 0;
        const std::uint8_t* p = nullptr;
        const std::uint8_t* end = nullptr;
        std::uint64_t fine = 0;
        std::uint64_t lastFine = 0; // the position of the last complete event
        std::uint8_t running = 0;
        bool ended = false;    // an end-of-track event was read
        bool finished = false; // nothing more to read
        // A SysEx message sent in packets, gathered until its closing F7.
        std::vector<std::uint8_t> sysEx;
        bool sysExOpen = false;
        std::uint64_t sysExFine = 0;
        const std::uint8_t* sysExAt = nullptr;
    };

    // Where a track is damaged, and how; `at` is null while it is not.
    struct Problem
    {
        const std::uint8_t* at = nullptr;
        std::string text;
    };
    // What reading one event did to its track.
    enum class Step
    {
        Next,  // read; go on
        Ended, // the end-of-track event
        Broken // damage: the track ends before the event (see Problem)
    };

    explicit SmfParser(std::span<const std::uint8_t> file);
    static LoadResult parseOrThrow(std::span<const std::uint8_t> file);

    LoadResult fail(Error error, std::string reason);
    LoadResult parseRiff();
    LoadResult parseSmf(std::size_t begin, std::size_t end);
    bool setDivision(std::uint16_t division, std::string& reason);
    // Parses events of `reader` into m_out until it holds `limit` events or the
    // track is finished.
    // Channel events are read inline there; the rest by the helpers below, which
    // take `p` just after the status byte and leave it after the event.
    void readEvents(TrackReader& reader, std::size_t limit);
    Step readMeta(TrackReader& reader, const std::uint8_t* eventStart, const std::uint8_t*& p,
                  std::uint64_t fine, Problem& problem);
    Step readSysEx(TrackReader& reader, std::uint8_t status, const std::uint8_t* eventStart,
                   const std::uint8_t*& p, std::uint64_t fine, Problem& problem);
    Step readSystemMessage(TrackReader& reader, std::uint8_t status, const std::uint8_t* eventStart,
                           const std::uint8_t*& p, Problem& problem);
    // The length of a meta or SysEx event, and whether its data is all there.
    static bool readLength(const std::uint8_t*& p, const std::uint8_t* end,
                           const std::uint8_t* eventStart, std::uint32_t& length, Problem& problem);
    void finishTrack(TrackReader& reader, const Problem& problem);
    void pushPayload(std::uint64_t fine, std::uint8_t status, std::uint8_t type,
                     const std::uint8_t* data, std::size_t size, bool leadingF0 = false);
    void closeSysEx(TrackReader& reader, bool warnUnterminated);
    template <typename Key>
    void mergeTracks(std::vector<TrackReader>& readers, unsigned remainderBits, unsigned trackBits);
    void finish();
    bool keepWarning() noexcept;
    void warn(std::string text);
    void warnAt(const std::uint8_t* at, const std::string& text);
    std::size_t offsetOf(const std::uint8_t* at) const noexcept
    {
        return static_cast<std::size_t>(at - m_file.data());
    }

    std::span<const std::uint8_t> m_file;
    std::shared_ptr<Segment> m_segment;
    std::size_t m_suppressedWarnings = 0;

    // Fine units: music time times m_divisor plus the remainder lost in rounding;
    // one tick of the file is m_finePerTick of them.
    std::uint32_t m_divisor = 1;
    std::uint32_t m_finePerTick = kTicksPerQuarter;
    ExactDivider m_divider{1};
    bool m_smpte = false;

    int m_track = 0;                   // the track being read, for events and warnings
    PodBuffer<Event>* m_out = nullptr; // where events go
    std::vector<Timed> m_tempos;
    std::vector<Timed> m_timeSignatures;
    std::vector<Timed> m_keySignatures;
};

} // namespace music::internal
