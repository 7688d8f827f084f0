// Turns the bytes of a Standard MIDI File or RIFF MIDI file into a segment.
#pragma once

#include "../loader.h"
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

private:
    struct Timed
    {
        std::uint64_t fine;
        std::uint32_t value; // a tempo, or packed signature bytes
    };
    struct Run
    {
        std::size_t begin;
        std::size_t end;
    };

    explicit SmfParser(std::span<const std::uint8_t> file);

    LoadResult fail(LoadError error, std::string reason);
    LoadResult parseRiff();
    LoadResult parseSmf(std::size_t begin, std::size_t end);
    bool setDivision(std::uint16_t division, std::string& reason);
    // Parses one track chunk's data, its first event at `startFine`; returns the
    // position of its end.
    std::uint64_t parseTrack(const std::uint8_t* begin, const std::uint8_t* end,
                             std::uint64_t startFine);
    void pushPayload(std::uint64_t fine, std::uint8_t status, std::uint8_t type,
                     const std::uint8_t* data, std::size_t size, bool leadingF0 = false);
    void closeSysEx(bool warnUnterminated);
    void merge();
    void finish();
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

    int m_track = 0;
    std::vector<Event> m_events; // every track's events, track after track
    std::vector<Run> m_runs;
    std::vector<Timed> m_tempos;
    std::vector<Timed> m_timeSignatures;
    std::vector<Timed> m_keySignatures;

    // A SysEx message sent in packets, gathered until its closing F7.
    std::vector<std::uint8_t> m_sysEx;
    bool m_sysExOpen = false;
    std::uint64_t m_sysExFine = 0;
    const std::uint8_t* m_sysExAt = nullptr;
};

} // namespace music::internal
