#include "smfparser.h"

#include "crashstack.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace music::internal {

namespace {

constexpr std::uint64_t kMaxMusicTime =
    static_cast<std::uint64_t>(std::numeric_limits<MusicTime>::max());
constexpr std::uint64_t kExhausted = ~std::uint64_t{0};
// Files from this size on are read on two threads where the machine has them.
constexpr std::size_t kThreadedBytes = std::size_t{1} << 20;
// Rounds merge no more than this many events at a time (2 MiB of events), so
// that what they read is still in the cache when it is merged; small files go
// in about eight rounds.
constexpr std::size_t kMaxRoundEvents = std::size_t{1} << 18;
constexpr std::size_t kMinRoundEvents = 64;
// A round smaller than this is merged by one thread.
constexpr std::size_t kMinSplitEvents = 256;
// Pending payloads of a track are numbered in two data bytes.
constexpr std::size_t kMaxPending = 0xFFFE; // a step may add two more, and the end one
// Pages read to the end are given back in steps of at least this much, and of
// 1/256 of the tracks' bytes: each step interrupts the other thread.
constexpr std::size_t kReleaseStep = std::size_t{128} << 10;

std::uint32_t readBig32(const std::uint8_t* p) noexcept
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

std::uint16_t readBig16(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t readLittle32(const std::uint8_t* p) noexcept
{
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
           p[0];
}

bool hasId(const std::uint8_t* p, const char* id) noexcept
{
    return std::memcmp(p, id, 4) == 0;
}

std::string hexByte(std::uint8_t byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

// A chunk id as text for messages, with unprintable bytes as '?'.
std::string idText(const std::uint8_t* p)
{
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F)
            text[static_cast<std::size_t>(i)] = static_cast<char>(p[i]);
    }
    return text;
}

bool isChunkId(const std::uint8_t* p) noexcept
{
    return std::all_of(p, p + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

enum class VarLen
{
    Ok,
    Truncated,
    TooLong
};

// A variable-length number: at most 4 bytes of 7 bits, the last without bit 7.
VarLen readVarLen(const std::uint8_t*& p, const std::uint8_t* end, std::uint32_t& value) noexcept
{
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        if (p == end)
            return VarLen::Truncated;
        const std::uint8_t byte = *p++;
        result = (result << 7) | (byte & 0x7Fu);
        if (byte < 0x80) {
            value = result;
            return VarLen::Ok;
        }
    }
    return VarLen::TooLong;
}

constexpr const char* kCutOff = "event cut off by the end of the track";

const char* varLenProblem(VarLen status) noexcept
{
    return status == VarLen::TooLong ? "variable-length number longer than 4 bytes" : kCutOff;
}

// Data bytes that follow a system common or real-time status byte, or -1 for
// the undefined ones.
int systemMessageLength(std::uint8_t status) noexcept
{
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
        return 0;
    default:
        return -1;
    }
}

void relax() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Waits until `value` differs from `old`: a short spin (the other thread is
// usually about to finish), then sleeping in the kernel.
template <typename T> T awaitChange(const std::atomic<T>& value, T old) noexcept
{
    for (int i = 0; i < 20000; ++i) {
        const T now = value.load(std::memory_order_acquire);
        if (now != old)
            return now;
        relax();
    }
    value.wait(old, std::memory_order_acquire);
    return value.load(std::memory_order_acquire);
}

} // namespace

// The second thread of a parse, and the hand-over between the two: the caller
// starts a piece of work on both, does its own share and waits for the other.
class SmfParser::Crew
{
public:
    using Work = Phase;

    explicit Crew(SmfParser& parser)
        : m_parser(parser), m_thread([this] {
              crashstack::prepareThisThread();
              loop();
          })
    {
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;
    ~Crew()
    {
        start(Work::Stop);
        m_thread.join();
    }

    // Does `work` on both threads; returns when both are done. Rethrows what
    // either threw.
    void run(Work work)
    {
        m_next.store(0, std::memory_order_relaxed);
        start(work);
        std::exception_ptr mine;
        try {
            m_parser.doShare(work, 0);
        } catch (...) {
            mine = std::current_exception();
        }
        std::uint32_t done = m_done.load(std::memory_order_acquire);
        while (done != m_phase.load(std::memory_order_relaxed))
            done = awaitChange(m_done, done);
        if (mine)
            std::rethrow_exception(mine);
        if (m_error)
            std::rethrow_exception(std::exchange(m_error, nullptr));
    }

    // The next piece of this work (a track to read, parts to merge), shared out
    // as the threads ask.
    std::size_t next() noexcept { return m_next.fetch_add(1, std::memory_order_relaxed); }

private:
    void start(Work work)
    {
        m_work = work;
        m_phase.fetch_add(1, std::memory_order_release);
        m_phase.notify_one();
    }

    void loop()
    {
        std::uint32_t seen = 0;
        for (;;) {
            seen = awaitChange(m_phase, seen);
            if (m_work == Work::Stop)
                return;
            try {
                m_parser.doShare(m_work, 1);
            } catch (...) {
                m_error = std::current_exception();
            }
            m_done.store(seen, std::memory_order_release);
            m_done.notify_one();
        }
    }

    SmfParser& m_parser;
    Work m_work = Work::Stop;
    std::exception_ptr m_error;
    std::atomic<std::size_t> m_next{0};
    std::atomic<std::uint32_t> m_phase{0};
    std::atomic<std::uint32_t> m_done{0};
    std::thread m_thread; // last: it starts at once and uses the members above
};

SmfParser::SmfParser(std::span<const std::uint8_t> file, const ParseOptions& options)
    : m_file(file), m_options(options), m_segment(std::make_shared<Segment>())
{
}

SmfParser::~SmfParser() = default;

LoadResult SmfParser::parse(std::span<const std::uint8_t> file, const ParseOptions& options)
{
    try {
        return parseOrThrow(file, options);
    } catch (const std::bad_alloc&) {
        return Status::failure(Error::TooLarge, "not enough memory to load a file of " +
                                                    std::to_string(file.size()) + " bytes");
    }
}

std::string SmfParser::tooLargeReason(std::uint64_t size)
{
    return "the file holds " + std::to_string(size) + " bytes; a MIDI file must be smaller than " +
           "2 GiB (" + std::to_string(kMaxFileSize) + " bytes)";
}

LoadResult SmfParser::parseOrThrow(std::span<const std::uint8_t> file, const ParseOptions& options)
{
    SmfParser parser(file, options);
    if (file.size() >= kMaxFileSize)
        return parser.fail(Error::TooLarge, tooLargeReason(file.size()));
    if (file.empty())
        return parser.fail(Error::NotMidi, "the file is empty");
    if (file.size() >= 4 && hasId(file.data(), "RIFF"))
        return parser.parseRiff();
    if (file.size() >= 4 && hasId(file.data(), "MThd"))
        return parser.parseSmf(0, file.size());
    if (file.size() >= 8 && std::memcmp(file.data(), "SMF2CLIP", 8) == 0)
        return parser.fail(Error::NotMidi, "a MIDI 2.0 clip file, not a Standard MIDI File");
    return parser.fail(Error::NotMidi,
                       "not a MIDI file: it begins with neither \"MThd\" nor \"RIFF\"");
}

LoadResult SmfParser::fail(Error error, std::string reason)
{
    return Status::failure(error, std::move(reason));
}

bool SmfParser::keepWarning(Track& track) noexcept
{
    // Checked before a warning that may repeat all over a file is even written.
    if (track.warnings.size() < m_warningsPerTrack)
        return true;
    ++track.suppressedWarnings;
    return false;
}

void SmfParser::warn(std::string text)
{
    if (m_segment->m_warnings.size() < kMaxWarnings)
        m_segment->m_warnings.push_back(std::move(text));
    else
        ++m_suppressedWarnings;
}

void SmfParser::warn(Track& track, std::string text)
{
    if (keepWarning(track))
        track.warnings.push_back(std::move(text));
}

void SmfParser::warnAt(Track& track, const std::uint8_t* at, const std::string& text)
{
    if (keepWarning(track)) {
        track.warnings.push_back("track " + std::to_string(track.index) + " at byte " +
                                 std::to_string(offsetOf(at)) + ": " + text);
    }
}

LoadResult SmfParser::parseRiff()
{
    const std::size_t size = m_file.size();
    const std::uint8_t* p = m_file.data();
    if (size < 12)
        return fail(Error::NotMidi, "a RIFF file cut short before its form type");
    if (!hasId(p + 8, "RMID")) {
        return fail(Error::NotMidi,
                    "a RIFF file of form \"" + idText(p + 8) + "\", not a RIFF MIDI file");
    }
    // The RIFF size is often wrong in real files: walk the chunks to the file's end.
    std::uint64_t offset = 12;
    while (offset < size && size - offset >= 8) {
        const std::uint32_t length = readLittle32(p + offset + 4);
        if (hasId(p + offset, "data")) {
            const std::uint64_t begin = offset + 8;
            std::uint64_t end = begin + length;
            if (end > size) {
                warn("RIFF data chunk declares " + std::to_string(length) + " bytes but only " +
                     std::to_string(size - begin) + " remain");
                end = size;
            }
            if (end - begin < 4 || !hasId(p + begin, "MThd")) {
                return fail(Error::InvalidHeader,
                            "the RIFF data chunk does not begin with \"MThd\"");
            }
            return parseSmf(static_cast<std::size_t>(begin), static_cast<std::size_t>(end));
        }
        offset += std::uint64_t{8} + length + (length & 1u); // chunks are padded to even sizes
    }
    return fail(Error::NotMidi, "a RIFF MIDI file without a \"data\" chunk");
}

bool SmfParser::setDivision(std::uint16_t division, std::string& reason)
{
    if (division == 0) {
        reason = "invalid header: the division is 0";
        return false;
    }
    if ((division & 0x8000) == 0) {
        m_divisor = division;
        m_finePerTick = kTicksPerQuarter;
    } else {
        // SMPTE: real time is fixed by the frame rate; music time runs at 120 beats
        // per minute. One tick is fpsDenominator / (fps * ticksPerFrame) seconds.
        const int frames = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
        const std::uint32_t ticksPerFrame = division & 0xFFu;
        std::uint32_t fpsNumerator = 0;
        std::uint32_t fpsDenominator = 1;
        switch (frames) {
        case 24:
        case 25:
        case 30:
            fpsNumerator = static_cast<std::uint32_t>(frames);
            break;
        case 29: // drop-frame: 30000/1001 frames per second
            fpsNumerator = 30000;
            fpsDenominator = 1001;
            break;
        default:
            reason = "invalid header: SMPTE division with " + std::to_string(frames) +
                     " frames per second";
            return false;
        }
        if (ticksPerFrame == 0) {
            reason = "invalid header: SMPTE division with 0 ticks per frame";
            return false;
        }
        m_smpte = true;
        m_divisor = fpsNumerator * ticksPerFrame;
        m_finePerTick = kTicksPerQuarter * 2 * fpsDenominator;
    }
    m_divider = ExactDivider(m_divisor);
    return true;
}

LoadResult SmfParser::parseSmf(std::size_t begin, std::size_t end)
{
    const std::uint8_t* p = m_file.data();
    if (end - begin < 14)
        return fail(Error::InvalidHeader, "invalid header: the header chunk is cut short");
    const std::uint32_t headerLength = readBig32(p + begin + 4);
    if (headerLength < 6) {
        return fail(Error::InvalidHeader, "invalid header: header length " +
                                              std::to_string(headerLength) + " is below 6");
    }
    const int format = readBig16(p + begin + 8);
    const int declaredTracks = readBig16(p + begin + 10);
    const std::uint16_t division = readBig16(p + begin + 12);
    if (format > 2) {
        return fail(Error::InvalidHeader,
                    "invalid header: unknown format " + std::to_string(format));
    }
    std::string reason;
    if (!setDivision(division, reason))
        return fail(Error::InvalidHeader, reason);

    Segment& segment = *m_segment;
    segment.m_format = format;
    segment.m_division = static_cast<std::int16_t>(division);
    m_format = format;
    std::uint64_t offset = std::uint64_t{begin} + 8 + headerLength;
    while (offset < end && end - offset >= 8) {
        const std::uint8_t* chunk = p + offset;
        const std::uint32_t length = readBig32(chunk + 4);
        const std::uint64_t chunkEnd = offset + 8 + length;
        if (hasId(chunk, "MTrk")) {
            if (m_tracks.size() == std::numeric_limits<std::uint16_t>::max()) {
                warn("more than 65535 track chunks; the rest are ignored");
                break;
            }
            std::size_t dataEnd = end;
            if (chunkEnd > end) {
                warn("track " + std::to_string(m_tracks.size()) + ": the chunk declares " +
                     std::to_string(length) + " bytes but only " +
                     std::to_string(end - offset - 8) + " remain in the file");
            } else {
                dataEnd = static_cast<std::size_t>(chunkEnd);
            }
            Track& track = m_tracks.emplace_back();
            track.index = static_cast<std::uint16_t>(m_tracks.size() - 1);
            track.chunk = track.p = track.released = chunk + 8;
            track.end = p + dataEnd;
        } else if (!isChunkId(chunk)) {
            // Not a chunk: a damaged length led here. Go on with the next track chunk.
            const std::uint8_t* from = chunk + 1;
            const std::uint8_t* next = static_cast<const std::uint8_t*>(
                memmem(from, static_cast<std::size_t>(p + end - from), "MTrk", 4));
            if (!next) {
                warn(std::to_string(end - offset) + " bytes at byte " + std::to_string(offset) +
                     " are no chunk; ignored");
                offset = end;
                break;
            }
            warn(std::to_string(next - chunk) + " bytes at byte " + std::to_string(offset) +
                 " are no chunk; skipped to the next track chunk");
            offset = offsetOf(next);
            continue;
        }
        // Unknown chunks are skipped whole.
        offset = chunkEnd;
    }
    if (offset < end)
        warn(std::to_string(end - offset) + " stray bytes at the end of the file ignored");

    const int tracks = static_cast<int>(m_tracks.size());
    if (tracks == 0) {
        std::string missing =
            "no track chunk (the header declares " + std::to_string(declaredTracks) + ")";
        if (headerLength != 6)
            missing += "; the header length " + std::to_string(headerLength) + " may be wrong";
        return fail(Error::NoTracks, missing);
    }
    if (declaredTracks != tracks) {
        warn("the header declares " + std::to_string(declaredTracks) + " tracks, the file holds " +
             std::to_string(tracks));
    }
    if (format == 0 && tracks > 1)
        warn("a format 0 file with " + std::to_string(tracks) + " tracks; they play together");
    segment.m_trackCount = tracks;

    readAndMerge();
    finish();
    return std::move(m_segment);
}

std::uint64_t SmfParser::musicTimeOf(std::uint64_t fine) const noexcept
{
    return fine < ExactDivider::kLimit ? m_divider.divide(fine) : kMaxMusicTime + 1;
}

void SmfParser::readAndMerge()
{
    std::size_t trackBytes = 0;
    for (const Track& track : m_tracks)
        trackBytes += static_cast<std::size_t>(track.end - track.p);

    // Event::m_place: the file's ticks within a music tick take the high bits
    // (none where the file's clock is no finer than music time), the track the rest.
    const std::uint64_t ticksPerMusicTick = (m_divisor - 1) / m_finePerTick;
    unsigned offsetBits = 0;
    while ((std::uint64_t{1} << offsetBits) <= ticksPerMusicTick)
        ++offsetBits;
    m_trackBits = 8 - offsetBits;
    m_segment->m_trackBits = m_trackBits;
    m_segment->m_finePerTick = m_finePerTick;
    m_tickDivider = ExactDivider(m_finePerTick);
    const unsigned escape = (1u << m_trackBits) - 1;
    for (Track& track : m_tracks)
        track.place = static_cast<std::uint8_t>(std::min<unsigned>(track.index, escape));
    m_warningsPerTrack =
        std::clamp<std::size_t>(8192 / m_tracks.size(), std::size_t{1}, kMaxWarnings);

    // Every event takes at least two bytes of the file, so this never grows; the
    // pages are only touched as events arrive.
    m_out.reserve(trackBytes / 2 + 1);
    m_roundEvents = std::clamp(trackBytes / 24, kMinRoundEvents, kMaxRoundEvents);
    m_releaseStep = std::max(kReleaseStep, trackBytes / 256);
    m_trackBytes = trackBytes;
    const std::size_t room = std::max<std::size_t>(64, 2 * m_roundEvents / m_tracks.size());
    for (Track& track : m_tracks) {
        track.room = room;
        track.started = m_format != 2 || track.index == 0;
        m_active.push_back(track.index);
    }
    m_step = kTicksPerQuarter;
    m_bound = m_step;

    // A second thread pays where tracks can be read side by side: not for one
    // track that holds nearly everything, nor for format 2's one after another.
    std::size_t largest = 0;
    for (const Track& track : m_tracks)
        largest = std::max(largest, static_cast<std::size_t>(track.end - track.p));
    const bool shared = m_format != 2 && largest < trackBytes / 4 * 3;
    unsigned threads = shared ? m_options.threads : 1;
    if (threads == 0)
        threads = trackBytes >= kThreadedBytes && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    std::unique_ptr<Crew> crew;
    if (threads >= 2) {
        try {
            crew = std::make_unique<Crew>(*this);
        } catch (const std::system_error&) {
            // No second thread: one does it all.
        }
    }
    m_crew = crew.get();

    while (!m_active.empty()) {
        // Format 2 plays its tracks one after another: one thread reads them in turn.
        if (m_crew && m_format != 2) {
            planTouch();
            m_crew->run(Phase::Read);
        } else
            doShare(Phase::Read, 0);
        planRound();
        if (m_crew && m_partAt[kSideBySide] < m_roundTotal)
            m_crew->run(Phase::Merge);
        else
            doShare(Phase::Merge, kAlone);
        finishRound();
    }
    m_crew = nullptr;
}

void SmfParser::planTouch()
{
    // The system clears a fresh page where it is first written, a huge page at
    // a time: the merge would find it in the way of one thread while the other
    // waits. The read before it shares the pages out instead: those of about a
    // round's events from where the merge goes on (a round that merged more
    // than that wrote its pages itself).
    // Near the end, no more than the events still to come, at the rate of those
    // so far and an eighth more: the pages beyond would be written in vain.
    std::size_t left = 0;
    std::size_t buffered = 0;
    for (std::uint32_t index : m_active) {
        const Track& track = m_tracks[index];
        left += static_cast<std::size_t>(track.end - track.p);
        buffered += track.events.size() - track.take;
    }
    const double perByte = static_cast<double>(m_out.size()) /
                           static_cast<double>(std::max<std::size_t>(m_trackBytes - left, 1));
    const auto coming = static_cast<std::size_t>(static_cast<double>(left) * perByte * 1.125);
    const std::size_t from = std::max(m_touched, m_out.size());
    const std::size_t wanted = std::min(
        {m_out.capacity(), m_out.size() + m_roundEvents, m_out.size() + buffered + coming});
    m_touchChunks = 0;
    if (wanted <= from)
        return;
    m_touchFrom = from;
    m_touchChunks = (wanted - from + kTouchChunk - 1) / kTouchChunk;
    m_touched = wanted;
}

void SmfParser::touchChunk(std::size_t chunk)
{
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t from = m_touchFrom + chunk * kTouchChunk;
    const std::size_t to = std::min(from + kTouchChunk, m_touched);
    auto* const bytes = reinterpret_cast<unsigned char*>(m_out.data());
    // Only bytes of events not written yet, which may hold anything: from the
    // first page that begins among them.
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(bytes);
    const std::uintptr_t first = (base + from * sizeof(Event) + page - 1) / page * page;
    for (std::size_t at = first - base; at < to * sizeof(Event); at += page)
        bytes[at] = 0;
}

void SmfParser::doShare(Phase phase, unsigned share)
{
    if (phase == Phase::Read) {
        if (!m_crew || m_format == 2) {
            for (std::uint32_t index : m_active)
                readRound(m_tracks[index]);
            return;
        }
        // First the segment's fresh pages this round's merge will write, then the
        // tracks, to whichever thread asks.
        for (std::size_t i = m_crew->next(); i < m_touchChunks + m_active.size();
             i = m_crew->next()) {
            if (i < m_touchChunks)
                touchChunk(i);
            else
                readRound(m_tracks[m_active[i - m_touchChunks]]);
        }
        return;
    }
    if (phase == Phase::Merge) {
        // Parts side by side, as many as a thread merges at once, to whichever
        // thread asks first.
        constexpr std::size_t pieces = kParts / kSideBySide;
        if (!m_crew || share == kAlone) {
            for (std::size_t piece = 0; piece < pieces; ++piece)
                mergeParts(piece * kSideBySide, (piece + 1) * kSideBySide);
            return;
        }
        for (std::size_t piece = m_crew->next(); piece < pieces; piece = m_crew->next())
            mergeParts(piece * kSideBySide, (piece + 1) * kSideBySide);
    }
}

void SmfParser::readRound(Track& track)
{
    // What the last round merged goes; what it left stays first in line.
    if (track.take > 0) {
        Event* events = track.events.data();
        const std::size_t left = track.events.size() - track.take;
        std::size_t merged = track.pending.size();
        for (std::size_t i = track.take; i < track.events.size(); ++i) {
            if (!events[i].isChannel()) {
                merged = pendingIndexOf(events[i]);
                break;
            }
        }
        std::memmove(static_cast<void*>(events), events + track.take, left * sizeof(Event));
        track.events.resizeForOverwrite(left);
        track.take = 0;
        if (merged > 0) {
            track.pending.erase(track.pending.begin(),
                                track.pending.begin() + static_cast<std::ptrdiff_t>(merged));
            for (std::size_t i = 0; i < left; ++i) {
                if (!events[i].isChannel())
                    setPendingIndex(events[i], pendingIndexOf(events[i]) - merged);
            }
        }
    }
    if (m_format == 2 && !track.started) {
        const Track& before = m_tracks[track.index - 1u];
        if (!before.finished)
            return;
        track.started = true;
        track.fine = before.fine;
    }
    if (!track.finished) {
        track.full = false;
        if (m_divisor > m_finePerTick)
            readEvents<true>(track);
        else
            readEvents<false>(track);
        releaseRead(track);
    }
    // An end mark after the events, later than any: the merge stops on it. The
    // merge reads up to eight events at a time: end marks fill the room beyond.
    track.events.reserve(track.events.size() + 8);
    std::fill_n(track.events.data() + track.events.size(), 8, makeEvent(~std::uint64_t{0}));
}

void SmfParser::releaseRead(Track& track)
{
    // Only whole pages of this track's own bytes: the pages at its edges may
    // hold bytes of other chunks that are yet to be read.
    if (!m_options.releaseRead)
        return;
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const auto address = [](const std::uint8_t* at) {
        return reinterpret_cast<std::uintptr_t>(at);
    };
    const std::uintptr_t from = (address(track.released) + page - 1) / page * page;
    const std::uintptr_t to =
        (track.finished ? address(track.end) : address(track.p)) / page * page;
    if (to <= from || (to - from < m_releaseStep && !track.finished))
        return;
    // Advice only: where it fails, the pages just stay.
    ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
    track.released = reinterpret_cast<const std::uint8_t*>(to);
}

template <bool kFinerThanMusicTime>
SmfParser::Scan SmfParser::scanChannelEvents(Scan scan, const std::uint8_t* end, const Event* stop,
                                             std::uint64_t boundFine,
                                             std::uint64_t place) const noexcept
{
    // Nearly every event of a file: a short delta and a channel message, before
    // the bound. Anything else (and anything wrong, or beyond the range of music
    // time: that is beyond the bound too) is left where it begins, for the careful
    // reading.
    const std::uint64_t finePerTick = m_finePerTick;
    const ExactDivider divider = m_divider;
    const ExactDivider tickDivider = m_tickDivider;
    const std::uint64_t divisor = m_divisor;
    const unsigned placeShift = 24 + m_trackBits;
    const std::uint64_t placeBits = place << 24;
    const std::uint8_t* p = scan.p;
    std::uint64_t fine = scan.fine;
    Event* next = scan.next;
    std::uint32_t running = scan.running;
    for (;;) {
        // An event read here takes at most five bytes: so many events can be read
        // before the end of the track needs a look.
        const std::ptrdiff_t budget = std::min<std::ptrdiff_t>(stop - next, (end - p) / 5 - 1);
        if (budget <= 0)
            break;
        const Event* const last = next + budget;
        while (next < last) {
            const std::uint8_t* q = p;
            std::uint32_t delta = *q++;
            if (delta >= 0x80) {
                if (*q >= 0x80)
                    break;
                delta = ((delta & 0x7F) << 7) | *q++;
            }
            std::uint32_t status = *q;
            if (status >= 0x80)
                ++q;
            else
                status = running;
            if (status - 0x80 >= 0x70) // no running status, or not a channel message
                break;
            // Two data bytes but after program change and channel pressure. A
            // branch, not arithmetic: where the next event begins must not wait
            // for this status byte to be read.
            std::uint32_t data = q[0];
            if ((status & 0xE0) != 0xC0) [[likely]] {
                data |= std::uint32_t{q[1]} << 8;
                q += 2;
            } else {
                q += 1;
            }
            if (data & 0x8080)
                break;
            const std::uint64_t at = fine + delta * finePerTick;
            if (at >= boundFine)
                break;
            const std::uint64_t time = divider.divide(at);
            std::uint64_t word = status | (data << 8) | placeBits | (time << 32);
            if constexpr (kFinerThanMusicTime)
                word |= tickDivider.divide(at - time * divisor) << placeShift;
            storeEvent(next++, word);
            p = q;
            fine = at;
            running = status;
        }
        if (next < last)
            break;
    }
    return {p, fine, next, running};
}

template <bool kFinerThanMusicTime> void SmfParser::readEvents(Track& track)
{
    const std::uint32_t finePerTick = m_finePerTick;
    const std::uint32_t divisor = m_divisor;
    const ExactDivider divider = m_divider;
    const ExactDivider tickDivider = m_tickDivider;
    const unsigned trackBits = m_trackBits;
    const std::uint64_t place = track.place;
    const std::uint64_t boundFine = std::min(m_bound, kMaxMusicTime + 1) * divisor;
    PodBuffer<Event>& out = track.events;
    const std::uint8_t* p = track.p;
    const std::uint8_t* const end = track.end;
    std::uint64_t fine = track.fine;
    std::uint64_t lastFine = fine;
    std::uint8_t running = track.running;
    bool sysExOpen = track.sysExOpen;
    bool ended = false;
    Problem problem;

    // Channel events, nearly all of a file, are written straight through `next`;
    // the helpers for the rest write through pushPayload, so the buffer's size is
    // brought up to date before them and `next` taken up again after.
    out.reserve(track.room);
    Event* next = out.data() + out.size();
    Event* stop = out.data() + std::max(track.room, out.size());

    while (p < end) {
        if (!sysExOpen) {
            const Scan scan = scanChannelEvents<kFinerThanMusicTime>({p, fine, next, running}, end,
                                                                     stop, boundFine, place);
            p = scan.p;
            fine = lastFine = scan.fine;
            next = scan.next;
            running = static_cast<std::uint8_t>(scan.running);
            if (p >= end)
                break;
        }
        if (next >= stop) [[unlikely]] {
            track.full = true;
            break;
        }
        // Up to the bound, and on until an open SysEx message is closed: its event
        // takes the time of its last packet.
        if (lastFine >= boundFine && !sysExOpen) [[unlikely]]
            break;
        const std::uint8_t* eventStart = p;
        std::uint32_t delta = *p;
        if (delta < 0x80) {
            ++p;
        } else if (VarLen status = readVarLen(p, end, delta); status != VarLen::Ok) {
            problem = {eventStart, varLenProblem(status)};
            break;
        }
        fine += std::uint64_t{delta} * finePerTick;
        const std::uint64_t time =
            fine < ExactDivider::kLimit ? divider.divide(fine) : kMaxMusicTime + 1;
        if (time > kMaxMusicTime) [[unlikely]] {
            problem = {eventStart, "event time beyond the range of music time"};
            break;
        }
        if (p == end) [[unlikely]] {
            problem = {eventStart, kCutOff};
            break;
        }

        std::uint8_t status = *p;
        if (status < 0x80) {
            if (running == 0) [[unlikely]] {
                problem = {p, "data byte " + hexByte(status) + " with no running status"};
                break;
            }
            status = running;
        } else {
            ++p;
        }

        if (status < 0xF0) [[likely]] {
            const std::uint8_t kind = status & 0xF0;
            const std::ptrdiff_t need = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (end - p < need) [[unlikely]] {
                problem = {eventStart, kCutOff};
                break;
            }
            const std::uint32_t data1 = p[0];
            const std::uint32_t data2 = need == 2 ? p[1] : 0;
            if ((data1 | data2) & 0x80) [[unlikely]] {
                problem = {eventStart, "status byte inside a channel message"};
                break;
            }
            p += need;
            running = status;
            if (sysExOpen) [[unlikely]] {
                out.resizeForOverwrite(static_cast<std::size_t>(next - out.data()));
                closeSysEx(track, true);
                sysExOpen = false;
                out.reserve(out.size() + 1);
                next = out.data() + out.size();
                stop = out.data() + std::max(track.room, out.size());
            }
            std::uint64_t eventPlace = place;
            if constexpr (kFinerThanMusicTime) {
                // The file's ticks before this one on the same music tick.
                eventPlace |= tickDivider.divide(fine - time * divisor) << trackBits;
            }
            *next++ = makeEvent(status | (data1 << 8) | (data2 << 16) | (eventPlace << 24) |
                                (time << 32));
            lastFine = fine;
            continue;
        }

        // The rest is rare: meta events, SysEx, and system messages that have no
        // place in a file.
        out.resizeForOverwrite(static_cast<std::size_t>(next - out.data()));
        Step step = Step::Next;
        if (status == 0xFF)
            step = readMeta(track, eventStart, p, fine, problem);
        else if (status == 0xF0 || status == 0xF7)
            step = readSysEx(track, status, eventStart, p, fine, problem);
        else
            step = readSystemMessage(track, status, eventStart, p, problem);
        sysExOpen = track.sysExOpen;
        next = out.data() + out.size();
        stop = out.data() + std::max(track.room, out.size());
        if (step == Step::Broken)
            break;
        lastFine = fine;
        if (step == Step::Ended) {
            ended = true;
            break;
        }
        if (track.pending.size() >= kMaxPending) {
            track.full = true;
            break;
        }
    }

    out.resizeForOverwrite(static_cast<std::size_t>(next - out.data()));
    track.p = p;
    track.running = running;
    if (ended || problem.at || p >= end) {
        track.ended = ended;
        track.fine = ended ? fine : lastFine;
        finishTrack(track, problem);
    } else {
        track.fine = lastFine;
    }
}

bool SmfParser::readLength(const std::uint8_t*& p, const std::uint8_t* end,
                           const std::uint8_t* eventStart, std::uint32_t& length, Problem& problem)
{
    if (VarLen read = readVarLen(p, end, length); read != VarLen::Ok) {
        problem = {eventStart, varLenProblem(read)};
        return false;
    }
    if (static_cast<std::uint64_t>(end - p) < length) {
        problem = {eventStart, kCutOff};
        return false;
    }
    return true;
}

SmfParser::Step SmfParser::readSysEx(Track& track, std::uint8_t status,
                                     const std::uint8_t* eventStart, const std::uint8_t*& p,
                                     std::uint64_t fine, Problem& problem)
{
    std::uint32_t length = 0;
    if (!readLength(p, track.end, eventStart, length, problem))
        return Step::Broken;
    const std::uint8_t* data = p;
    p += length;
    const bool closed = length > 0 && data[length - 1] == 0xF7;

    if (status == 0xF7 && track.sysExOpen) {
        // A further packet of a divided SysEx message.
        track.sysEx.insert(track.sysEx.end(), data, data + length);
        track.sysExFine = fine;
        if (closed)
            closeSysEx(track, false);
        return Step::Next;
    }
    closeSysEx(track, true);
    if (status == 0xF7) {
        // An escape: bytes sent as they are.
        if (length > 0)
            pushPayload(track, fine, 0xF7, 0, data, length);
    } else if (closed) {
        // The usual case, the whole message at once: store F0 and the data.
        pushPayload(track, fine, 0xF0, 0, data, length, true);
    } else {
        track.sysEx.assign(1, 0xF0);
        track.sysEx.insert(track.sysEx.end(), data, data + length);
        track.sysExOpen = true;
        track.sysExFine = fine;
        track.sysExAt = eventStart;
    }
    return Step::Next;
}

SmfParser::Step SmfParser::readMeta(Track& track, const std::uint8_t* eventStart,
                                    const std::uint8_t*& p, std::uint64_t fine, Problem& problem)
{
    if (p == track.end) {
        problem = {eventStart, kCutOff};
        return Step::Broken;
    }
    const std::uint8_t type = *p++;
    std::uint32_t length = 0;
    if (!readLength(p, track.end, eventStart, length, problem))
        return Step::Broken;
    const std::uint8_t* data = p;
    p += length;
    closeSysEx(track, true);

    const auto ignored = [&](const char* what) {
        warnAt(track, eventStart,
               std::string(what) + " with " + std::to_string(length) + " data bytes ignored");
    };
    switch (type) {
    case 0x2F: // end of track
        pushPayload(track, fine, 0xFF, type, data, length);
        return Step::Ended;
    case 0x51: // tempo
        if (length < 3) {
            ignored("tempo event");
        } else if (const std::uint32_t tempo =
                       (std::uint32_t{data[0]} << 16) | (std::uint32_t{data[1]} << 8) | data[2];
                   tempo == 0) {
            warnAt(track, eventStart, "tempo 0 ignored");
        } else {
            pushPayload(track, fine, 0xFF, type, data, length);
            // SMPTE files keep their fixed real time whatever the tempo says.
            if (!m_smpte)
                track.tempos.push_back({fine, tempo, track.index});
        }
        break;
    case 0x58: // time signature
        if (length < 4) {
            ignored("time signature");
        } else {
            pushPayload(track, fine, 0xFF, type, data, length);
            track.timeSignatures.push_back({fine,
                                            (std::uint32_t{data[0]} << 24) |
                                                (std::uint32_t{data[1]} << 16) |
                                                (std::uint32_t{data[2]} << 8) | data[3],
                                            track.index});
        }
        break;
    case 0x59: // key signature
        if (length < 2) {
            ignored("key signature");
        } else {
            pushPayload(track, fine, 0xFF, type, data, length);
            track.keySignatures.push_back(
                {fine, (std::uint32_t{data[0]} << 8) | data[1], track.index});
        }
        break;
    case 0x01: // text
    case 0x02: // copyright
    case 0x03: // track name
    case 0x05: // lyric
    case 0x06: // marker
    case 0x07: // cue point
        pushPayload(track, fine, 0xFF, type, data, length);
        break;
    default: // nothing the player uses
        break;
    }
    return Step::Next;
}

SmfParser::Step SmfParser::readSystemMessage(Track& track, std::uint8_t status,
                                             const std::uint8_t* eventStart, const std::uint8_t*& p,
                                             Problem& problem)
{
    // System common and real-time messages have no place in a file; skip the
    // ones whose length is known.
    const int length = systemMessageLength(status);
    if (length < 0) {
        problem = {eventStart, "undefined status byte " + hexByte(status)};
        return Step::Broken;
    }
    if (track.end - p < length) {
        problem = {eventStart, kCutOff};
        return Step::Broken;
    }
    if (std::any_of(p, p + length, [](std::uint8_t b) { return b >= 0x80; })) {
        problem = {eventStart, "status byte inside a system message"};
        return Step::Broken;
    }
    p += length;
    closeSysEx(track, true);
    if (keepWarning(track)) {
        warnAt(track, eventStart,
               "system message " + hexByte(status) + " is not allowed in a MIDI file; skipped");
    }
    return Step::Next;
}

void SmfParser::pushPayload(Track& track, std::uint64_t fine, std::uint8_t status,
                            std::uint8_t type, const std::uint8_t* data, std::size_t size,
                            bool leadingF0)
{
    const std::uint64_t time = m_divider.divide(fine);
    Pending pending;
    pending.offset = static_cast<std::uint32_t>(track.store.size());
    pending.size = static_cast<std::uint32_t>(size + (leadingF0 ? 1 : 0));
    pending.type = type;
    if (leadingF0)
        track.store.push_back(0xF0);
    track.store.insert(track.store.end(), data, data + size);

    Event event;
    event.m_status = status;
    event.m_place = track.place;
    if (m_trackBits < 8) {
        const std::uint64_t within = m_tickDivider.divide(fine - time * m_divisor);
        event.m_place = static_cast<std::uint8_t>(track.place | (within << m_trackBits));
    }
    event.m_time = static_cast<MusicTime>(time);
    setPendingIndex(event, track.pending.size());
    track.pending.push_back(pending);
    track.events.push_back(event);
}

void SmfParser::closeSysEx(Track& track, bool warnUnterminated)
{
    if (!track.sysExOpen)
        return;
    track.sysExOpen = false;
    if (warnUnterminated) {
        // Most devices act on the message once it is closed, so close it.
        if (keepWarning(track))
            warnAt(track, track.sysExAt, "SysEx message without its closing F7; F7 added");
        track.sysEx.push_back(0xF7);
    }
    pushPayload(track, track.sysExFine, 0xF0, 0, track.sysEx.data(), track.sysEx.size());
    track.sysEx.clear();
}

void SmfParser::finishTrack(Track& track, const Problem& problem)
{
    track.finished = true;
    closeSysEx(track, true);
    if (problem.at) {
        warnAt(track, problem.at, problem.text + "; the track ends there");
    } else if (!track.ended) {
        warn(track, "track " + std::to_string(track.index) + ": no end-of-track event");
    } else if (track.p < track.end) {
        warnAt(track, track.p,
               std::to_string(track.end - track.p) + " bytes after the end of track ignored");
    }
}

void SmfParser::planRound()
{
    // Everything before the bound is in the buffers now, except after a track
    // that ran out of room: beyond its last event read, another track's events
    // may come before its next one, so they wait.
    const std::uint64_t boundTime = std::clamp<std::uint64_t>(m_bound, 1, kMaxMusicTime + 1);
    std::uint64_t last = ((boundTime << (8 - m_trackBits)) << 16) - 1;
    m_boundByRoom = false;
    for (std::uint32_t index : m_active) {
        const Track& track = m_tracks[index];
        if (track.full && track.events.size() > 0) {
            const std::uint64_t key = keyOf(track.events.data()[track.events.size() - 1], index);
            if (key < last) {
                last = key;
                m_boundByRoom = true;
            }
        }
    }
    std::size_t total = 0;
    std::uint64_t earliest = kExhausted;
    std::uint64_t latest = 0;
    for (std::uint32_t index : m_active) {
        Track& track = m_tracks[index];
        const Event* first = track.events.data();
        const Event* end = first + track.events.size();
        track.take = static_cast<std::size_t>(
            std::upper_bound(first, end, last,
                             [this, index](std::uint64_t key, const Event& event) {
                                 return key < keyOf(event, index);
                             }) -
            first);
        total += track.take;
        if (track.take > 0) {
            earliest = std::min<std::uint64_t>(earliest, static_cast<std::uint32_t>(first->m_time));
            latest = std::max<std::uint64_t>(
                latest, static_cast<std::uint32_t>(first[track.take - 1].m_time));
        }
    }
    m_roundTotal = total;

    // The round is merged in parts cut at the times that divide it evenly: two
    // parts merged side by side by each thread (see mergeParts).
    const auto below = [this](std::uint64_t time) {
        std::size_t count = 0;
        for (std::uint32_t index : m_active) {
            const Track& track = m_tracks[index];
            const Event* first = track.events.data();
            count += static_cast<std::size_t>(
                std::lower_bound(first, first + track.take, time,
                                 [](const Event& event, std::uint64_t value) {
                                     return static_cast<std::uint32_t>(event.m_time) < value;
                                 }) -
                first);
        }
        return count;
    };
    std::uint64_t cuts[kParts + 1];
    cuts[0] = 0;
    for (std::size_t part = 1; part <= kParts; ++part)
        cuts[part] = kMaxMusicTime + 2;
    if (total >= kMinSplitEvents) {
        for (std::size_t part = 1; part < kParts; ++part) {
            const std::size_t wanted = total / kParts * part;
            std::uint64_t low = std::max(earliest, cuts[part - 1]);
            std::uint64_t high = std::max(latest + 1, low);
            // Near enough will do: within 1/64 of the round.
            while (low < high) {
                const std::uint64_t mid = low + (high - low) / 2;
                const std::size_t count = below(mid);
                if (count + total / 64 >= wanted && count <= wanted + total / 64) {
                    low = mid;
                    break;
                }
                if (count >= wanted)
                    high = mid;
                else
                    low = mid + 1;
            }
            cuts[part] = low;
        }
    }
    for (std::size_t part = 0; part <= kParts; ++part)
        m_partAt[part] = 0;
    for (std::uint32_t index : m_active) {
        Track& track = m_tracks[index];
        const Event* first = track.events.data();
        track.cuts[0] = 0;
        for (std::size_t part = 1; part <= kParts; ++part) {
            track.cuts[part] =
                part == kParts
                    ? track.take
                    : static_cast<std::size_t>(
                          std::lower_bound(
                              first + track.cuts[part - 1], first + track.take, cuts[part],
                              [](const Event& event, std::uint64_t value) {
                                  return static_cast<std::uint32_t>(event.m_time) < value;
                              }) -
                          first);
            m_partAt[part] += track.cuts[part];
        }
    }
}

void SmfParser::finishRound()
{
    m_out.resizeForOverwrite(m_out.size() + m_roundTotal);
    for (MergeExtras& extras : m_extras) {
        m_merged.insert(m_merged.end(), extras.payloads.begin(), extras.payloads.end());
        std::vector<Segment::TrackRun>& runs = m_segment->m_trackRuns;
        for (const Segment::TrackRun& run : extras.runs) {
            if (runs.empty() || runs.back().track != run.track)
                runs.push_back(run);
        }
        extras.payloads.clear();
        extras.runs.clear();
        extras.lastRunTrack = ~0u;
    }

    // The next bound: about a round's worth of events further, never before the
    // next event, and not moved at all while a track that ran out of room holds
    // events before it.
    if (!m_boundByRoom) {
        const std::uint64_t wanted =
            m_step * m_roundEvents / std::max<std::size_t>(m_roundTotal, 1);
        m_step = std::clamp(wanted, std::max<std::uint64_t>(m_step / 4, 1), m_step * 4);
        m_step = std::min(m_step, kMaxMusicTime + 1);
        m_bound = std::min(m_bound + m_step, kMaxMusicTime + 2);
    }
    std::uint64_t next = kExhausted;
    std::size_t kept = 0;
    for (std::uint32_t index : m_active) {
        Track& track = m_tracks[index];
        if (track.take < track.events.size()) {
            next = std::min<std::uint64_t>(
                next, static_cast<std::uint32_t>(track.events.data()[track.take].m_time));
        } else if (!track.finished && track.started) {
            next = std::min(next, musicTimeOf(track.fine));
        }
        // A track that ran out of room and held the round back gets more.
        if (track.full && m_boundByRoom)
            track.room = std::min(track.room * 2, std::max(m_roundEvents, std::size_t{1024}));
        if (!track.finished || track.take < track.events.size()) {
            m_active[kept++] = index;
        } else {
            track.events.release();
            std::vector<Pending>().swap(track.pending);
        }
    }
    m_active.resize(kept);
    if (next != kExhausted)
        m_bound = std::max(m_bound, std::min(next + 1, kMaxMusicTime + 2));
}

void SmfParser::mergePayload(Event& event, std::size_t index, const Track& track,
                             MergeExtras& extras)
{
    const Pending& pending = track.pending[pendingIndexOf(event)];
    extras.payloads.push_back({static_cast<std::uint32_t>(index), pending.offset, pending.size,
                               track.index, pending.type});
    setPendingIndex(event, 0);
}

// A loser tree over the cursors of one part of a round. A cursor's key is its
// next event's position with the cursor's slot below it; slots go in the order
// of the tracks, so the keys order events as the segment does, and no two
// cursors have the same key. Each inner node holds the key that lost the match
// there: after the winner moves on, one path to the root is played again.
template <bool kTimeOnly> class SmfParser::PartMerge
{
public:
    PartMerge(SmfParser& parser, std::size_t part, MergeExtras& extras)
        : m_extras(extras), m_trackBits(parser.m_trackBits)
    {
        const unsigned escape = (1u << parser.m_trackBits) - 1;
        for (std::uint32_t index : parser.m_active) {
            const Track& track = parser.m_tracks[index];
            const Event* first = track.events.data();
            const Event* from = first + track.cuts[part];
            const Event* to = first + track.cuts[part + 1];
            if (from < to) {
                m_cursors.push_back(
                    {from, to, &track, track.place == escape, !track.pending.empty()});
            }
        }
        Event* const base = parser.m_out.data();
        m_base = base;
        m_out = base + parser.m_out.size() + parser.m_partAt[part];
        m_outEnd = base + parser.m_out.size() + parser.m_partAt[part + 1];
        if (m_cursors.empty())
            return;

        while (m_leaves < m_cursors.size())
            m_leaves *= 2;
        m_losers.resize(m_leaves);
        std::vector<std::uint64_t> winners(2 * m_leaves, kExhausted);
        for (std::size_t slot = 0; slot < m_cursors.size(); ++slot)
            winners[m_leaves + slot] = keyAt(m_cursors[slot].next, slot);
        for (std::size_t node = m_leaves - 1; node >= 1; --node) {
            winners[node] = std::min(winners[2 * node], winners[2 * node + 1]);
            m_losers[node] = std::max(winners[2 * node], winners[2 * node + 1]);
        }
        m_winner = winners[1];
    }

    bool done() const noexcept { return m_winner == kExhausted; }

    // One cursor (one track, as in every format 0 file): its events go out as
    // they are.
    void copyAlone()
    {
        if (m_cursors.size() != 1)
            return;
        Cursor& cursor = m_cursors[0];
        Event* out = m_out;
        if (cursor.escaped && m_extras.lastRunTrack != cursor.track->index) {
            m_extras.runs.push_back(
                {static_cast<std::uint32_t>(out - m_base), cursor.track->index});
            m_extras.lastRunTrack = cursor.track->index;
        }
        const auto count = static_cast<std::size_t>(cursor.end - cursor.next);
        if (!cursor.payloads) {
            std::memcpy(static_cast<void*>(out), cursor.next, count * sizeof(Event));
            out += count;
        } else {
            for (const Event* p = cursor.next; p < cursor.end; ++p) {
                Event event = *p;
                if (!event.isChannel())
                    mergePayload(event, static_cast<std::size_t>(out - m_base), *cursor.track,
                                 m_extras);
                *out++ = event;
            }
        }
        m_out = out;
        cursor.next = cursor.end;
        m_winner = kExhausted;
    }

    // Moves out the winner's events at its position, and plays its path again.
    [[gnu::always_inline]] inline void step()
    {
        const std::size_t slot = static_cast<std::size_t>(m_winner & 0xFFFF);
        Cursor& cursor = m_cursors[slot];
        Event* out = m_out;
        if (cursor.escaped && m_extras.lastRunTrack != cursor.track->index) [[unlikely]] {
            m_extras.runs.push_back(
                {static_cast<std::uint32_t>(out - m_base), cursor.track->index});
            m_extras.lastRunTrack = cursor.track->index;
        }
        const Event* p = cursor.next;
        if (!cursor.payloads && m_outEnd - out >= 16) [[likely]] {
            // Channel events only, as nearly always: up to eight at a time.
            for (;;) {
                const unsigned count = copyGroup(p, out);
                p += count;
                out += count;
                if (count < 8 || positionOf(p) != positionOf(p - 1) || m_outEnd - out < 8)
                    [[likely]]
                    break;
            }
        }
        // The rest one by one: payloads, and the end of the part.
        const std::uint64_t position = positionOf(cursor.next);
        while (p < cursor.end && positionOf(p) == position) {
            Event event = *p++;
            if (!event.isChannel()) [[unlikely]]
                mergePayload(event, static_cast<std::size_t>(out - m_base), *cursor.track,
                             m_extras);
            *out++ = event;
        }
        // The other thread may have read these events: ask for them early.
        __builtin_prefetch(
            reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + 256));
        m_out = out;
        cursor.next = p;
        std::uint64_t moved = p == cursor.end ? kExhausted : keyAt(p, slot);
        std::uint64_t* const losers = m_losers.data();
        for (std::size_t node = (m_leaves + slot) / 2; node >= 1; node /= 2) {
            const std::uint64_t other = losers[node];
            losers[node] = other > moved ? other : moved;
            moved = other < moved ? other : moved;
        }
        m_winner = moved;
    }

private:
    struct Cursor
    {
        const Event* next;
        const Event* end;
        const Track* track;
        bool escaped;  // the track is told by the segment's runs
        bool payloads; // SysEx or meta events may come
    };

    // The time, and the place but for the track (the same for all of a track).
    static std::uint64_t positionOf(const Event* event) noexcept
    {
        return (std::uint64_t{static_cast<std::uint32_t>(event->m_time)} << 8) | event->m_place;
    }
    std::uint64_t keyAt(const Event* event, std::size_t slot) const noexcept
    {
        const std::uint64_t position =
            ((std::uint64_t{static_cast<std::uint32_t>(event->m_time)} << 8) | event->m_place) >>
            m_trackBits;
        return (position << 16) | slot;
    }

    // Copies the events from `from` on that stand at the position of the first
    // (the time, and the place but for the track; the time alone where the place
    // holds nothing but the track) to `to`: at least one, at most eight, with no
    // branch that depends on them. Reads and writes eight slots either way;
    // returns how many events belong there.
    static unsigned copyGroup(const Event* from, Event* to) noexcept
    {
#if defined(__SSE2__)
        const auto* source = reinterpret_cast<const __m128i*>(from);
        auto* target = reinterpret_cast<__m128i*>(to);
        const __m128i a = _mm_loadu_si128(source);
        const __m128i b = _mm_loadu_si128(source + 1);
        const __m128i c = _mm_loadu_si128(source + 2);
        const __m128i d = _mm_loadu_si128(source + 3);
        _mm_storeu_si128(target, a);
        _mm_storeu_si128(target + 1, b);
        _mm_storeu_si128(target + 2, c);
        _mm_storeu_si128(target + 3, d);
        if constexpr (kTimeOnly) {
            // The times of events 0 to 3 and 4 to 7, against the first.
            const __m128 low =
                _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 high =
                _mm_shuffle_ps(_mm_castsi128_ps(c), _mm_castsi128_ps(d), _MM_SHUFFLE(3, 1, 3, 1));
            const __m128i time = _mm_shuffle_epi32(_mm_castps_si128(low), 0);
            const unsigned equal =
                static_cast<unsigned>(_mm_movemask_ps(
                    _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(low), time)))) |
                (static_cast<unsigned>(_mm_movemask_ps(
                     _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(high), time))))
                 << 4);
            return static_cast<unsigned>(__builtin_ctz(~equal | 0x100u));
        }
        // Each event's low word keeps its place byte only; its high word is the time.
        const __m128i mask =
            _mm_set_epi32(-1, static_cast<int>(0xFF000000u), -1, static_cast<int>(0xFF000000u));
        const __m128i first = _mm_and_si128(_mm_shuffle_epi32(a, _MM_SHUFFLE(1, 0, 1, 0)), mask);
        const auto same = [&](__m128i pair) {
            return static_cast<unsigned>(_mm_movemask_ps(
                _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(pair, mask), first))));
        };
        const unsigned words = same(a) | (same(b) << 4) | (same(c) << 8) | (same(d) << 12);
        // Bit 2i: event i stands there (both of its words).
        const unsigned equal = words & (words >> 1) & 0x5555u;
        return static_cast<unsigned>(__builtin_ctz((~equal & 0x5555u) | 0x10000u)) / 2;
#else
        std::memcpy(static_cast<void*>(to), from, 8 * sizeof(Event));
        const std::uint64_t position = positionOf(from);
        unsigned count = 1;
        while (count < 8 && positionOf(from + count) == position)
            ++count;
        return count;
#endif
    }

    MergeExtras& m_extras;
    const unsigned m_trackBits;
    std::vector<Cursor> m_cursors;
    std::size_t m_leaves = 1;
    std::vector<std::uint64_t> m_losers;
    std::uint64_t m_winner = kExhausted;
    Event* m_base = nullptr;
    Event* m_out = nullptr;
    Event* m_outEnd = nullptr;
};

void SmfParser::mergeParts(std::size_t from, std::size_t to)
{
    // Where the place holds the track alone, a track's events at one position
    // are those at one time.
    if (m_trackBits == 8)
        mergePartsBy<true>(from, to);
    else
        mergePartsBy<false>(from, to);
}

template <bool kTimeOnly> void SmfParser::mergePartsBy(std::size_t from, std::size_t to)
{
    // Two parts side by side: each step waits on what the one before found, so
    // the processor works on the other part meanwhile.
    PartMerge<kTimeOnly> first(*this, from, m_extras[from]);
    first.copyAlone();
    if (to - from < 2) {
        while (!first.done())
            first.step();
        return;
    }
    PartMerge<kTimeOnly> second(*this, from + 1, m_extras[from + 1]);
    second.copyAlone();
    while (!first.done() && !second.done()) {
        first.step();
        second.step();
    }
    while (!first.done())
        first.step();
    while (!second.done())
        second.step();
}

void SmfParser::finish()
{
    Segment& segment = *m_segment;

    // The events: the buffer is handed over whole.
    m_out.shrinkToFit();
    segment.m_eventCount = m_out.size();
    segment.m_eventBytes = m_out.capacity() * sizeof(Event);
    segment.m_events = m_out.detach();

    // The payloads: every track's store joined into one.
    std::vector<std::size_t> storeAt(m_tracks.size());
    std::size_t storeBytes = 0;
    for (const Track& track : m_tracks) {
        storeAt[track.index] = storeBytes;
        storeBytes += track.store.size();
    }
    segment.m_payloadBytes.reserve(storeBytes);
    for (Track& track : m_tracks) {
        segment.m_payloadBytes.insert(segment.m_payloadBytes.end(), track.store.begin(),
                                      track.store.end());
        std::vector<std::uint8_t>().swap(track.store);
    }
    segment.m_payloads.reserve(m_merged.size());
    for (const Merged& merged : m_merged) {
        segment.m_payloads.push_back(
            {merged.event, static_cast<std::uint32_t>(storeAt[merged.track] + merged.offset),
             merged.size, merged.type});
    }
    std::vector<Merged>().swap(m_merged);
    segment.m_trackRuns.shrink_to_fit();
    segment.m_warnings.shrink_to_fit();

    std::uint64_t lengthFine = 0;
    for (const Track& track : m_tracks)
        lengthFine = std::max(lengthFine, track.fine);
    segment.m_length = static_cast<MusicTime>(m_divider.divide(lengthFine));

    // Warnings: the file's own first, then each track's, up to the limit.
    std::size_t suppressed = m_suppressedWarnings;
    for (Track& track : m_tracks) {
        for (std::string& warning : track.warnings) {
            if (segment.m_warnings.size() < kMaxWarnings)
                segment.m_warnings.push_back(std::move(warning));
            else
                ++suppressed;
        }
        suppressed += track.suppressedWarnings;
    }
    if (suppressed > 0)
        segment.m_warnings.push_back("and " + std::to_string(suppressed) + " more warnings");

    // Equal positions go in track order, so the later track's value wins.
    std::vector<Timed> tempos;
    std::vector<Timed> timeSignatures;
    std::vector<Timed> keySignatures;
    for (const Track& track : m_tracks) {
        tempos.insert(tempos.end(), track.tempos.begin(), track.tempos.end());
        timeSignatures.insert(timeSignatures.end(), track.timeSignatures.begin(),
                              track.timeSignatures.end());
        keySignatures.insert(keySignatures.end(), track.keySignatures.begin(),
                             track.keySignatures.end());
    }
    const auto byPosition = [](const Timed& a, const Timed& b) {
        return a.fine < b.fine || (a.fine == b.fine && a.track < b.track);
    };
    std::stable_sort(tempos.begin(), tempos.end(), byPosition);
    std::stable_sort(timeSignatures.begin(), timeSignatures.end(), byPosition);
    std::stable_sort(keySignatures.begin(), keySignatures.end(), byPosition);

    TempoMap& map = segment.m_tempoMap;
    map.m_divisor = m_divisor;
    const Wide denominator = Wide{kTicksPerQuarter} * m_divisor;
    for (const Timed& change : tempos) {
        TempoMap::Point& last = map.m_points.back();
        if (change.fine == last.fine) {
            last.tempo = change.value;
            map.m_changes.back().microsecondsPerQuarter = change.value;
            continue;
        }
        const Wide elapsed = Wide{last.remainder} + Wide{change.fine - last.fine} * last.tempo;
        TempoMap::Point point;
        point.fine = change.fine;
        point.tempo = change.value;
        point.microseconds = last.microseconds + static_cast<std::uint64_t>(elapsed / denominator);
        point.remainder = static_cast<std::uint64_t>(elapsed % denominator);
        map.m_points.push_back(point);
        map.m_changes.push_back(
            {static_cast<MusicTime>(m_divider.divide(change.fine)), change.value});
    }

    map.m_points.shrink_to_fit();
    map.m_changes.shrink_to_fit();

    segment.m_timeSignatures.reserve(timeSignatures.size());
    segment.m_keySignatures.reserve(keySignatures.size());
    for (const Timed& signature : timeSignatures) {
        TimeSignature entry;
        entry.time = static_cast<MusicTime>(m_divider.divide(signature.fine));
        entry.numerator = static_cast<std::uint8_t>(signature.value >> 24);
        entry.denominatorPower = static_cast<std::uint8_t>(signature.value >> 16);
        entry.clocksPerClick = static_cast<std::uint8_t>(signature.value >> 8);
        entry.thirtySecondsPerQuarter = static_cast<std::uint8_t>(signature.value);
        segment.m_timeSignatures.push_back(entry);
    }
    for (const Timed& signature : keySignatures) {
        KeySignature entry;
        entry.time = static_cast<MusicTime>(m_divider.divide(signature.fine));
        entry.sharps = static_cast<std::int8_t>(static_cast<std::uint8_t>(signature.value >> 8));
        entry.minor = (signature.value & 0xFF) != 0;
        segment.m_keySignatures.push_back(entry);
    }
}

} // namespace music::internal
