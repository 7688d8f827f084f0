// Turns the bytes of a Standard MIDI File or RIFF MIDI file into a segment.
//
// The tracks are read and merged in rounds, each up to a bound in time: the
// tracks are read up to the bound into small buffers of their own, then the
// events below the bound are merged into the segment (a loser tree over the
// tracks), and what a track read beyond the bound waits for the next round.
// The merge of a round is cut at times into parts of about equal size, each
// written to its own stretch of the segment; a thread merges two parts side by
// side (a loser tree each, moving a position's events at a time). With two
// threads, the tracks of a round and the parts of its merge are shared out to
// whichever asks first, and so are the segment's fresh pages, written first
// while the tracks are read. The result does not depend on the number of threads.
//
// Threads: parse() runs on the caller's thread and, when asked for two, one
// thread of its own that lives as long as the call. Rounds are separated by
// waits on both, so that between them everything belongs to the caller's thread.
#pragma once

#include "../loader.h"
#include "eventbuffer.h"
#include "exactdivider.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace music::internal {

struct ParseOptions
{
    // 1 or 2.
    unsigned threads = 1;
    // The bytes are the loader's own: pages read to the end are given back to
    // the system as the parser leaves them.
    bool releaseRead = false;
};

class SmfParser
{
public:
    // Files from this size on are refused: positions in it are 32-bit.
    static constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 31;
    // The most warnings a segment keeps; further ones are only counted.
    static constexpr std::size_t kMaxWarnings = 100;

    static LoadResult parse(std::span<const std::uint8_t> file, const ParseOptions& options);
    // Why a file of `size` bytes (kMaxFileSize or more) is refused.
    static std::string tooLargeReason(std::uint64_t size);

    ~SmfParser();

private:
    // A round is merged in parts cut at times that share it out evenly: two
    // parts by each thread, merged side by side.
    static constexpr std::size_t kParts = 4;
    static constexpr std::size_t kSideBySide = 2;

    struct Timed
    {
        std::uint64_t fine;
        std::uint32_t value; // a tempo, or packed signature bytes
        std::uint32_t track;
    };
    // The data of a SysEx or meta event read but not yet merged: where its bytes
    // lie in the track's own store.
    struct Pending
    {
        std::uint32_t offset;
        std::uint32_t size;
        std::uint8_t type;
    };
    // A payload merged into the segment, before the tracks' stores are joined.
    struct Merged
    {
        std::uint32_t event;
        std::uint32_t offset; // in the track's store
        std::uint32_t size;
        std::uint16_t track;
        std::uint8_t type;
    };
    // What one merging thread found beside the events.
    struct MergeExtras
    {
        std::vector<Merged> payloads;
        std::vector<Segment::TrackRun> runs;
        std::uint32_t lastRunTrack = ~0u;
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

    // One track chunk: how far it has been read, and what it read that is not
    // merged yet. Belongs to one thread at a time.
    struct Track
    {
        std::uint16_t index = 0;
        const std::uint8_t* chunk = nullptr; // the first byte of the track's data
        const std::uint8_t* p = nullptr;
        const std::uint8_t* end = nullptr;
        const std::uint8_t* released = nullptr; // pages before this are given back
        std::uint64_t fine = 0;                 // the position of the last event read
        std::uint8_t running = 0;
        std::uint8_t place = 0; // the track's bits of Event::m_place
        bool started = false;   // format 2: the track before has ended
        bool ended = false;     // an end-of-track event was read
        bool finished = false;  // nothing more to read
        bool full = false;      // this round's reading stopped for want of room
        // A SysEx message sent in packets, gathered until its closing F7.
        std::vector<std::uint8_t> sysEx;
        bool sysExOpen = false;
        std::uint64_t sysExFine = 0;
        const std::uint8_t* sysExAt = nullptr;

        // Events read and not merged yet, in the track's order, and the room
        // they may take this round.
        PodBuffer<Event> events;
        std::size_t room = 0;
        std::size_t take = 0;              // this round merges events [0, take)
        std::size_t cuts[kParts + 1] = {}; // part i of the round merges [cuts[i], cuts[i + 1])
        std::vector<Pending> pending;      // indexed by the events' data bytes
        std::vector<std::uint8_t> store;

        std::vector<Timed> tempos;
        std::vector<Timed> timeSignatures;
        std::vector<Timed> keySignatures;
        std::vector<std::string> warnings;
        std::size_t suppressedWarnings = 0;
    };
    class Crew;

    SmfParser(std::span<const std::uint8_t> file, const ParseOptions& options);
    static LoadResult parseOrThrow(std::span<const std::uint8_t> file, const ParseOptions& options);

    LoadResult fail(Error error, std::string reason);
    LoadResult parseRiff();
    LoadResult parseSmf(std::size_t begin, std::size_t end);
    bool setDivision(std::uint16_t division, std::string& reason);

    // The rounds, and their parts: reading and merging are shared out to the
    // threads, planning and finishing are the caller's.
    enum class Phase
    {
        Read,
        Merge,
        Stop
    };
    void readAndMerge();
    // The caller's thread does all of it.
    static constexpr unsigned kAlone = ~0u;
    void doShare(Phase phase, unsigned share);
    // The segment's pages are first written in chunks of this many events,
    // shared out to the threads (see planTouch).
    static constexpr std::size_t kTouchChunk = std::size_t{1} << 17;
    void planTouch();
    void touchChunk(std::size_t chunk);
    void readRound(Track& track);
    void planRound();
    void finishRound();

    // Reads events of `track` into its buffer until its position reaches
    // `boundFine` (with no SysEx message open), its room is used, or it ends.
    // Channel events are read inline there; the rest by the helpers below, which
    // take `p` just after the status byte and leave it after the event.
    template <bool kFinerThanMusicTime> void readEvents(Track& track);
    // The state of reading one track that the channel events' loop keeps.
    struct Scan
    {
        const std::uint8_t* p;
        std::uint64_t fine;
        Event* next;
        std::uint32_t running;
    };
    template <bool kFinerThanMusicTime>
    [[gnu::noinline]] Scan scanChannelEvents(Scan scan, const std::uint8_t* end, const Event* stop,
                                             std::uint64_t boundFine,
                                             std::uint64_t place) const noexcept;
    Step readMeta(Track& track, const std::uint8_t* eventStart, const std::uint8_t*& p,
                  std::uint64_t fine, Problem& problem);
    Step readSysEx(Track& track, std::uint8_t status, const std::uint8_t* eventStart,
                   const std::uint8_t*& p, std::uint64_t fine, Problem& problem);
    Step readSystemMessage(Track& track, std::uint8_t status, const std::uint8_t* eventStart,
                           const std::uint8_t*& p, Problem& problem);
    // The length of a meta or SysEx event, and whether its data is all there.
    static bool readLength(const std::uint8_t*& p, const std::uint8_t* end,
                           const std::uint8_t* eventStart, std::uint32_t& length, Problem& problem);
    void pushPayload(Track& track, std::uint64_t fine, std::uint8_t status, std::uint8_t type,
                     const std::uint8_t* data, std::size_t size, bool leadingF0 = false);
    void closeSysEx(Track& track, bool warnUnterminated);
    void finishTrack(Track& track, const Problem& problem);
    void releaseRead(Track& track);

    // Merges parts [from, to) of the round (see kParts).
    template <bool kTimeOnly> class PartMerge;
    void mergeParts(std::size_t from, std::size_t to);
    template <bool kTimeOnly> void mergePartsBy(std::size_t from, std::size_t to);
    static void mergePayload(Event& event, std::size_t index, const Track& track,
                             MergeExtras& extras);

    void finish();
    // A SysEx or meta event read and not merged yet finds its data by the
    // number its data bytes hold.
    static std::size_t pendingIndexOf(const Event& event) noexcept
    {
        return event.m_data1 | (std::size_t{event.m_data2} << 8);
    }
    // An event from its bytes: status, data 1, data 2, place, then time.
    static Event makeEvent(std::uint64_t word) noexcept
    {
        Event event;
        event.m_status = static_cast<std::uint8_t>(word);
        event.m_data1 = static_cast<std::uint8_t>(word >> 8);
        event.m_data2 = static_cast<std::uint8_t>(word >> 16);
        event.m_place = static_cast<std::uint8_t>(word >> 24);
        event.m_time = static_cast<MusicTime>(static_cast<std::uint32_t>(word >> 32));
        return event;
    }
    // makeEvent(word) stored at `at`, in one write where the bytes lie so.
    static void storeEvent(Event* at, std::uint64_t word) noexcept
    {
        if constexpr (std::endian::native == std::endian::little)
            std::memcpy(static_cast<void*>(at), &word, sizeof word);
        else
            *at = makeEvent(word);
    }
    static void setPendingIndex(Event& event, std::size_t index) noexcept
    {
        event.m_data1 = static_cast<std::uint8_t>(index);
        event.m_data2 = static_cast<std::uint8_t>(index >> 8);
    }
    bool keepWarning(Track& track) noexcept;
    void warn(std::string text);
    void warn(Track& track, std::string text);
    void warnAt(Track& track, const std::uint8_t* at, const std::string& text);
    std::size_t offsetOf(const std::uint8_t* at) const noexcept
    {
        return static_cast<std::size_t>(at - m_file.data());
    }
    // The order of merging: exact position, then track.
    std::uint64_t keyOf(const Event& event, std::uint32_t track) const noexcept
    {
        // The music time and the file's tick within it, then the track.
        const std::uint64_t position =
            ((std::uint64_t{static_cast<std::uint32_t>(event.m_time)} << 8) | event.m_place) >>
            m_trackBits;
        return (position << 16) | track;
    }
    std::uint64_t musicTimeOf(std::uint64_t fine) const noexcept;

    std::span<const std::uint8_t> m_file;
    ParseOptions m_options;
    std::shared_ptr<Segment> m_segment;
    std::size_t m_suppressedWarnings = 0;
    std::size_t m_warningsPerTrack = kMaxWarnings;

    // Fine units: music time times m_divisor plus the remainder lost in rounding;
    // one tick of the file is m_finePerTick of them.
    std::uint32_t m_divisor = 1;
    std::uint32_t m_finePerTick = kTicksPerQuarter;
    ExactDivider m_divider{1};
    ExactDivider m_tickDivider{kTicksPerQuarter};
    bool m_smpte = false;
    int m_format = 0;
    // How Event::m_place is split (see Segment::m_trackBits).
    unsigned m_trackBits = 8;

    std::vector<Track> m_tracks;
    std::vector<std::uint32_t> m_active; // tracks with something left to read or merge
    PodBuffer<Event> m_out;
    std::vector<Segment::Payload> m_payloads;
    std::vector<Merged> m_merged;

    // Rounds.
    std::size_t m_roundEvents = 0;         // what a round aims to merge
    std::size_t m_releaseStep = 0;         // pages read are given back in steps of this much
    std::uint64_t m_bound = 0;             // this round's bound in music time
    std::uint64_t m_step = 0;              // how far the bound moves per round
    bool m_boundByRoom = false;            // the last round ended where a track ran out of room
    std::size_t m_roundTotal = 0;          // events merged this round
    std::size_t m_partAt[kParts + 1] = {}; // where each part begins, from the round's start
    MergeExtras m_extras[kParts];
    std::size_t m_trackBytes = 0;  // of all tracks' data
    std::size_t m_touched = 0;     // events of the segment whose pages were written
    std::size_t m_touchFrom = 0;   // this round's chunks begin here
    std::size_t m_touchChunks = 0; // and are so many
    Crew* m_crew = nullptr;
};

} // namespace music::internal
