#include "smfparser.h"

#include "prefaulter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>

namespace music::internal {

namespace {

constexpr std::uint64_t kMaxMusicTime =
    static_cast<std::uint64_t>(std::numeric_limits<MusicTime>::max());

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

} // namespace

SmfParser::SmfParser(std::span<const std::uint8_t> file)
    : m_file(file), m_segment(std::make_shared<Segment>())
{
}

LoadResult SmfParser::parse(std::span<const std::uint8_t> file)
{
    try {
        return parseOrThrow(file);
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

LoadResult SmfParser::parseOrThrow(std::span<const std::uint8_t> file)
{
    SmfParser parser(file);
    if (file.size() >= kMaxFileSize) {
        return parser.fail(Error::TooLarge, tooLargeReason(file.size()));
    }
    if (file.empty())
        return parser.fail(Error::NotMidi, "the file is empty");
    if (file.size() >= 4 && hasId(file.data(), "RIFF"))
        return parser.parseRiff();
    if (file.size() >= 4 && hasId(file.data(), "MThd"))
        return parser.parseSmf(0, file.size());
    if (file.size() >= 8 && std::memcmp(file.data(), "SMF2CLIP", 8) == 0) {
        return parser.fail(Error::NotMidi, "a MIDI 2.0 clip file, not a Standard MIDI File");
    }
    return parser.fail(Error::NotMidi,
                       "not a MIDI file: it begins with neither \"MThd\" nor \"RIFF\"");
}

LoadResult SmfParser::fail(Error error, std::string reason)
{
    return Status::failure(error, std::move(reason));
}

bool SmfParser::keepWarning() noexcept
{
    // Checked before a warning that may repeat all over a file is even written.
    if (m_segment->m_warnings.size() < kMaxWarnings)
        return true;
    ++m_suppressedWarnings;
    return false;
}

void SmfParser::warn(std::string text)
{
    if (m_segment->m_warnings.size() < kMaxWarnings)
        m_segment->m_warnings.push_back(std::move(text));
    else
        ++m_suppressedWarnings;
}

void SmfParser::warnAt(const std::uint8_t* at, const std::string& text)
{
    warn("track " + std::to_string(m_track) + " at byte " + std::to_string(offsetOf(at)) + ": " +
         text);
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
    std::vector<TrackReader> readers;
    std::uint64_t offset = std::uint64_t{begin} + 8 + headerLength;
    while (offset < end && end - offset >= 8) {
        const std::uint8_t* chunk = p + offset;
        const std::uint32_t length = readBig32(chunk + 4);
        const std::uint64_t chunkEnd = offset + 8 + length;
        if (hasId(chunk, "MTrk")) {
            if (readers.size() == std::numeric_limits<std::uint16_t>::max()) {
                warn("more than 65535 track chunks; the rest are ignored");
                break;
            }
            std::size_t dataEnd = end;
            if (chunkEnd > end) {
                warn("track " + std::to_string(readers.size()) + ": the chunk declares " +
                     std::to_string(length) + " bytes but only " +
                     std::to_string(end - offset - 8) + " remain in the file");
            } else {
                dataEnd = static_cast<std::size_t>(chunkEnd);
            }
            TrackReader& reader = readers.emplace_back();
            reader.index = static_cast<int>(readers.size() - 1);
            reader.p = chunk + 8;
            reader.end = p + dataEnd;
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

    const int tracks = static_cast<int>(readers.size());
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

    // Every event takes at least two bytes of the file, so this never grows; the
    // pages are only touched as events arrive.
    segment.m_events.reserve((end - begin) / 2 + 1);
    m_out = &segment.m_events;
    // Dense files take about 12 bytes of events for 3 bytes of file; have the
    // pages for that much ready before the parser gets there.
    Prefaulter prefaulter;
    prefaulter.start(segment.m_events.data(),
                     std::min(segment.m_events.capacity() * sizeof(Event), (end - begin) * 4));
    if (format == 2 || tracks == 1) {
        // One track after another: already in time order.
        std::uint64_t start = 0;
        for (TrackReader& reader : readers) {
            reader.fine = reader.lastFine = format == 2 ? start : 0;
            readEvents(reader, std::numeric_limits<std::size_t>::max());
            start = reader.fine;
        }
    } else {
        unsigned remainderBits = 0;
        while ((std::uint64_t{1} << remainderBits) < m_divisor)
            ++remainderBits;
        unsigned trackBits = 0;
        while ((1u << trackBits) < static_cast<unsigned>(tracks))
            ++trackBits;
        // Music time takes 31 bits; most files leave room for one 64-bit key.
        if (31 + remainderBits + trackBits <= 64)
            mergeTracks<std::uint64_t>(readers, remainderBits, trackBits);
        else
            mergeTracks<Wide>(readers, remainderBits, trackBits);
    }
    m_out = nullptr;
    prefaulter.stop();
    segment.m_events.shrinkToFit();

    std::uint64_t lengthFine = 0;
    for (const TrackReader& reader : readers)
        lengthFine = std::max(lengthFine, reader.fine);
    segment.m_length = static_cast<MusicTime>(m_divider.divide(lengthFine));

    finish();
    if (m_suppressedWarnings > 0) {
        m_segment->m_warnings.push_back("and " + std::to_string(m_suppressedWarnings) +
                                        " more warnings");
    }
    return std::move(m_segment);
}

void SmfParser::pushPayload(std::uint64_t fine, std::uint8_t status, std::uint8_t type,
                            const std::uint8_t* data, std::size_t size, bool leadingF0)
{
    Segment& segment = *m_segment;
    const std::uint64_t time = m_divider.divide(fine);
    Segment::Payload payload;
    payload.offset = static_cast<std::uint32_t>(segment.m_payloadBytes.size());
    payload.size = static_cast<std::uint32_t>(size + (leadingF0 ? 1 : 0));
    payload.remainder = static_cast<std::uint32_t>(fine - time * m_divisor);
    payload.type = type;
    if (leadingF0)
        segment.m_payloadBytes.push_back(0xF0);
    segment.m_payloadBytes.insert(segment.m_payloadBytes.end(), data, data + size);

    Event event;
    event.m_time = static_cast<MusicTime>(time);
    event.m_word = static_cast<std::uint32_t>(segment.m_payloads.size());
    event.m_track = static_cast<std::uint16_t>(m_track);
    event.m_status = status;
    event.m_remainderHigh = 0;
    segment.m_payloads.push_back(payload);
    m_out->push_back(event);
}

void SmfParser::closeSysEx(TrackReader& reader, bool warnUnterminated)
{
    if (!reader.sysExOpen)
        return;
    reader.sysExOpen = false;
    if (warnUnterminated) {
        // Most devices act on the message once it is closed, so close it.
        if (keepWarning())
            warnAt(reader.sysExAt, "SysEx message without its closing F7; F7 added");
        reader.sysEx.push_back(0xF7);
    }
    pushPayload(reader.sysExFine, 0xF0, 0, reader.sysEx.data(), reader.sysEx.size());
    reader.sysEx.clear();
}

void SmfParser::readEvents(TrackReader& reader, std::size_t limit)
{
    if (reader.finished)
        return;
    m_track = reader.index;
    const std::uint16_t track = static_cast<std::uint16_t>(reader.index);
    const std::uint32_t finePerTick = m_finePerTick;
    const std::uint32_t divisor = m_divisor;
    const ExactDivider divider = m_divider;
    PodBuffer<Event>& out = *m_out;
    const std::uint8_t* p = reader.p;
    const std::uint8_t* const end = reader.end;
    std::uint64_t fine = reader.fine;
    std::uint64_t lastFine = reader.lastFine;
    std::uint8_t running = reader.running;
    bool ended = false;
    Problem problem;

    // Channel events, nearly all of a file, are written straight through `next`;
    // the helpers for the rest write through pushPayload, so the buffer's size is
    // brought up to date before them and `next` taken up again after.
    Event* next = out.data() + out.size();
    Event* stop = out.data() + std::min(limit, out.capacity());
    const auto syncOut = [&] {
        out.resizeForOverwrite(static_cast<std::size_t>(next - out.data()));
    };
    const auto reload = [&] {
        next = out.data() + out.size();
        stop = out.data() + std::min(limit, out.capacity());
    };

    while (p < end) {
        if (next >= stop) {
            syncOut();
            if (out.size() >= limit) {
                reader.p = p;
                reader.fine = fine;
                reader.lastFine = lastFine;
                reader.running = running;
                return;
            }
            out.reserve(std::max<std::size_t>(64, out.capacity() * 2));
            reload();
            continue;
        }
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
        if (time > kMaxMusicTime) {
            problem = {eventStart, "event time beyond the range of music time"};
            break;
        }
        if (p == end) {
            problem = {eventStart, kCutOff};
            break;
        }

        std::uint8_t status = *p;
        if (status < 0x80) {
            if (running == 0) {
                problem = {p, "data byte " + hexByte(status) + " with no running status"};
                break;
            }
            status = running;
        } else {
            ++p;
        }

        if (status < 0xF0) {
            const std::uint8_t kind = status & 0xF0;
            const std::ptrdiff_t need = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (end - p < need) {
                problem = {eventStart, kCutOff};
                break;
            }
            const std::uint8_t data1 = p[0];
            const std::uint8_t data2 = need == 2 ? p[1] : 0;
            if ((data1 | data2) & 0x80) {
                problem = {eventStart, "status byte inside a channel message"};
                break;
            }
            p += need;
            running = status;
            if (reader.sysExOpen) {
                syncOut();
                closeSysEx(reader, true);
                if (out.size() == out.capacity())
                    out.reserve(std::max<std::size_t>(64, out.capacity() * 2));
                reload();
            }
            const std::uint32_t remainder = static_cast<std::uint32_t>(fine - time * divisor);
            Event& event = *next++;
            event.m_time = static_cast<MusicTime>(time);
            event.m_word = data1 | (std::uint32_t{data2} << 8) | (remainder << 16);
            event.m_track = track;
            event.m_status = status;
            event.m_remainderHigh = static_cast<std::uint8_t>(remainder >> 16);
            lastFine = fine;
            continue;
        }

        syncOut();
        // The rest is rare: meta events, SysEx, and system messages that have no
        // place in a file.
        Step step = Step::Next;
        if (status == 0xFF)
            step = readMeta(reader, eventStart, p, fine, problem);
        else if (status == 0xF0 || status == 0xF7)
            step = readSysEx(reader, status, eventStart, p, fine, problem);
        else
            step = readSystemMessage(reader, status, eventStart, p, problem);
        reload();
        if (step == Step::Broken)
            break;
        lastFine = fine;
        if (step == Step::Ended) {
            ended = true;
            break;
        }
    }

    syncOut();
    reader.p = p;
    reader.ended = ended;
    reader.fine = ended ? fine : lastFine;
    finishTrack(reader, problem);
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

SmfParser::Step SmfParser::readSysEx(TrackReader& reader, std::uint8_t status,
                                     const std::uint8_t* eventStart, const std::uint8_t*& p,
                                     std::uint64_t fine, Problem& problem)
{
    std::uint32_t length = 0;
    if (!readLength(p, reader.end, eventStart, length, problem))
        return Step::Broken;
    const std::uint8_t* data = p;
    p += length;
    const bool closed = length > 0 && data[length - 1] == 0xF7;

    if (status == 0xF7 && reader.sysExOpen) {
        // A further packet of a divided SysEx message.
        reader.sysEx.insert(reader.sysEx.end(), data, data + length);
        reader.sysExFine = fine;
        if (closed)
            closeSysEx(reader, false);
        return Step::Next;
    }
    closeSysEx(reader, true);
    if (status == 0xF7) {
        // An escape: bytes sent as they are.
        if (length > 0)
            pushPayload(fine, 0xF7, 0, data, length);
    } else if (closed) {
        // The usual case, the whole message at once: store F0 and the data.
        pushPayload(fine, 0xF0, 0, data, length, true);
    } else {
        reader.sysEx.assign(1, 0xF0);
        reader.sysEx.insert(reader.sysEx.end(), data, data + length);
        reader.sysExOpen = true;
        reader.sysExFine = fine;
        reader.sysExAt = eventStart;
    }
    return Step::Next;
}

SmfParser::Step SmfParser::readMeta(TrackReader& reader, const std::uint8_t* eventStart,
                                    const std::uint8_t*& p, std::uint64_t fine, Problem& problem)
{
    if (p == reader.end) {
        problem = {eventStart, kCutOff};
        return Step::Broken;
    }
    const std::uint8_t type = *p++;
    std::uint32_t length = 0;
    if (!readLength(p, reader.end, eventStart, length, problem))
        return Step::Broken;
    const std::uint8_t* data = p;
    p += length;
    closeSysEx(reader, true);

    switch (type) {
    case 0x2F: // end of track
        pushPayload(fine, 0xFF, type, data, length);
        return Step::Ended;
    case 0x51: // tempo
        if (length < 3) {
            warnAt(eventStart,
                   "tempo event with " + std::to_string(length) + " data bytes ignored");
        } else if (const std::uint32_t tempo =
                       (std::uint32_t{data[0]} << 16) | (std::uint32_t{data[1]} << 8) | data[2];
                   tempo == 0) {
            warnAt(eventStart, "tempo 0 ignored");
        } else {
            pushPayload(fine, 0xFF, type, data, length);
            // SMPTE files keep their fixed real time whatever the tempo says.
            if (!m_smpte)
                m_tempos.push_back({fine, tempo, static_cast<std::uint32_t>(reader.index)});
        }
        break;
    case 0x58: // time signature
        if (length < 4) {
            warnAt(eventStart,
                   "time signature with " + std::to_string(length) + " data bytes ignored");
        } else {
            pushPayload(fine, 0xFF, type, data, length);
            m_timeSignatures.push_back({fine,
                                        (std::uint32_t{data[0]} << 24) |
                                            (std::uint32_t{data[1]} << 16) |
                                            (std::uint32_t{data[2]} << 8) | data[3],
                                        static_cast<std::uint32_t>(reader.index)});
        }
        break;
    case 0x59: // key signature
        if (length < 2) {
            warnAt(eventStart,
                   "key signature with " + std::to_string(length) + " data bytes ignored");
        } else {
            pushPayload(fine, 0xFF, type, data, length);
            m_keySignatures.push_back({fine, (std::uint32_t{data[0]} << 8) | data[1],
                                       static_cast<std::uint32_t>(reader.index)});
        }
        break;
    case 0x01: // text
    case 0x02: // copyright
    case 0x03: // track name
    case 0x05: // lyric
    case 0x06: // marker
    case 0x07: // cue point
        pushPayload(fine, 0xFF, type, data, length);
        break;
    default: // nothing the player uses
        break;
    }
    return Step::Next;
}

SmfParser::Step SmfParser::readSystemMessage(TrackReader& reader, std::uint8_t status,
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
    if (reader.end - p < length) {
        problem = {eventStart, kCutOff};
        return Step::Broken;
    }
    if (std::any_of(p, p + length, [](std::uint8_t b) { return b >= 0x80; })) {
        problem = {eventStart, "status byte inside a system message"};
        return Step::Broken;
    }
    p += length;
    closeSysEx(reader, true);
    if (keepWarning()) {
        warnAt(eventStart,
               "system message " + hexByte(status) + " is not allowed in a MIDI file; skipped");
    }
    return Step::Next;
}

void SmfParser::finishTrack(TrackReader& reader, const Problem& problem)
{
    m_track = reader.index;
    reader.finished = true;
    closeSysEx(reader, true);
    if (problem.at) {
        warnAt(problem.at, problem.text + "; the track ends there");
    } else if (!reader.ended) {
        warn("track " + std::to_string(reader.index) + ": no end-of-track event");
    } else if (reader.p < reader.end) {
        warnAt(reader.p,
               std::to_string(reader.end - reader.p) + " bytes after the end of track ignored");
    }
}

template <typename Key>
void SmfParser::mergeTracks(std::vector<TrackReader>& readers, unsigned remainderBits,
                            unsigned trackBits)
{
    // A few hundred events a track at a time stay in the cache until merged; a
    // short track gets less room, so that memory follows the file's size.
    constexpr std::size_t kBatch = 1024;
    const Segment& segment = *m_segment;
    PodBuffer<Event>& output = *m_out;

    // The exact position, then the track, as one number: equal positions go to
    // the lower track first, and a track's own events keep their order.
    const auto keyOf = [&segment, remainderBits, trackBits](const Event& event) -> Key {
        const std::uint32_t remainder =
            event.isChannel() ? (event.m_word >> 16) | (std::uint32_t{event.m_remainderHigh} << 16)
                              : segment.m_payloads[event.m_word].remainder;
        return (((Key{static_cast<std::uint32_t>(event.m_time)} << remainderBits) | remainder)
                << trackBits) |
               event.m_track;
    };

    std::vector<PodBuffer<Event>> batches(readers.size());
    // Reads the next batch of a track; false when the track has no more events.
    const auto refill = [&](std::size_t index) {
        PodBuffer<Event>& batch = batches[index];
        batch.resizeForOverwrite(0);
        m_out = &batch;
        while (batch.size() == 0 && !readers[index].finished)
            readEvents(readers[index], batch.capacity());
        m_out = &output;
        return batch.size() > 0;
    };

    struct Cursor
    {
        Key key;
        const Event* next;
        const Event* end;
        std::size_t index;
    };
    std::vector<Cursor> heap;
    heap.reserve(readers.size());
    for (std::size_t i = 0; i < readers.size(); ++i) {
        const auto chunkBytes = static_cast<std::size_t>(readers[i].end - readers[i].p);
        batches[i].reserve(std::min(kBatch, chunkBytes / 2 + 1));
        if (refill(i)) {
            const Event* first = batches[i].data();
            heap.push_back({keyOf(*first), first, first + batches[i].size(), i});
        }
    }
    // Puts `moving` at `at` and lets it sink to its place. It is passed by value,
    // not stored first: reading back a cursor just written stalls the CPU.
    const auto sink = [&heap](std::size_t at, const Cursor moving) {
        const std::size_t size = heap.size();
        for (;;) {
            std::size_t child = 2 * at + 1;
            if (child >= size)
                break;
            if (child + 1 < size && heap[child + 1].key < heap[child].key)
                ++child;
            if (!(heap[child].key < moving.key))
                break;
            heap[at] = heap[child];
            at = child;
        }
        heap[at] = moving;
    };
    for (std::size_t i = heap.size() / 2; i-- > 0;)
        sink(i, heap[i]);

    // The output is written through a plain pointer; its size is set at the end.
    Event* out = output.data() + output.size();
    Event* outEnd = output.data() + output.capacity();
    while (!heap.empty()) {
        Cursor top = heap.front();
        // Take every event of this track that comes before the other tracks' next.
        const Key limit = heap.size() == 1   ? ~Key{0}
                          : heap.size() == 2 ? heap[1].key
                                             : std::min(heap[1].key, heap[2].key);
        bool exhausted = false;
        do {
            if (out == outEnd) {
                output.resizeForOverwrite(static_cast<std::size_t>(out - output.data()));
                output.reserve(std::max<std::size_t>(64, output.capacity() * 2));
                out = output.data() + output.size();
                outEnd = output.data() + output.capacity();
            }
            *out++ = *top.next++;
            if (top.next == top.end) {
                if (!refill(top.index)) {
                    exhausted = true;
                    break;
                }
                top.next = batches[top.index].data();
                top.end = top.next + batches[top.index].size();
            }
            top.key = keyOf(*top.next);
        } while (top.key < limit);
        if (exhausted) {
            const Cursor last = heap.back();
            heap.pop_back();
            if (heap.empty())
                break;
            sink(0, last);
        } else {
            sink(0, top);
        }
    }
    output.resizeForOverwrite(static_cast<std::size_t>(out - output.data()));
}

void SmfParser::finish()
{
    Segment& segment = *m_segment;
    segment.m_payloads.shrink_to_fit();
    segment.m_payloadBytes.shrink_to_fit();

    // Equal positions go in track order, so the later track's value wins.
    const auto byPosition = [](const Timed& a, const Timed& b) {
        return a.fine < b.fine || (a.fine == b.fine && a.track < b.track);
    };
    std::stable_sort(m_tempos.begin(), m_tempos.end(), byPosition);
    std::stable_sort(m_timeSignatures.begin(), m_timeSignatures.end(), byPosition);
    std::stable_sort(m_keySignatures.begin(), m_keySignatures.end(), byPosition);

    TempoMap& map = segment.m_tempoMap;
    map.m_divisor = m_divisor;
    const Wide denominator = Wide{kTicksPerQuarter} * m_divisor;
    for (const Timed& change : m_tempos) {
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

    for (const Timed& signature : m_timeSignatures) {
        TimeSignature entry;
        entry.time = static_cast<MusicTime>(m_divider.divide(signature.fine));
        entry.numerator = static_cast<std::uint8_t>(signature.value >> 24);
        entry.denominatorPower = static_cast<std::uint8_t>(signature.value >> 16);
        entry.clocksPerClick = static_cast<std::uint8_t>(signature.value >> 8);
        entry.thirtySecondsPerQuarter = static_cast<std::uint8_t>(signature.value);
        segment.m_timeSignatures.push_back(entry);
    }
    for (const Timed& signature : m_keySignatures) {
        KeySignature entry;
        entry.time = static_cast<MusicTime>(m_divider.divide(signature.fine));
        entry.sharps = static_cast<std::int8_t>(static_cast<std::uint8_t>(signature.value >> 8));
        entry.minor = (signature.value & 0xFF) != 0;
        segment.m_keySignatures.push_back(entry);
    }
}

} // namespace music::internal
