#include "midibytes.h"

#include <cstdio>

namespace midibytes {

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes varLen(std::uint32_t value)
{
    // Seven bits a byte, the lowest group last; every byte but the last has
    // its top bit set. Collected from the end, then appended in order: an
    // insert at the front makes GCC 12 see a null pointer that is not there.
    std::uint8_t groups[5];
    std::size_t count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    Bytes out;
    out.reserve(count);
    while (count-- > 0)
        out.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
    return out;
}

Bytes big32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes little32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

Bytes header(int format, int tracks, std::uint16_t division)
{
    return cat({text("MThd"),
                big32(6),
                {static_cast<std::uint8_t>(format >> 8), static_cast<std::uint8_t>(format),
                 static_cast<std::uint8_t>(tracks >> 8), static_cast<std::uint8_t>(tracks),
                 static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division)}});
}

Bytes track(const Bytes& events)
{
    return cat({text("MTrk"), big32(static_cast<std::uint32_t>(events.size())), events});
}

Bytes endOfTrack(std::uint32_t delta)
{
    return meta(delta, 0x2F, {});
}

Bytes meta(std::uint32_t delta, std::uint8_t type, const Bytes& data)
{
    return cat(
        {varLen(delta), {0xFF, type}, varLen(static_cast<std::uint32_t>(data.size())), data});
}

Bytes tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter)
{
    return meta(delta, 0x51,
                {static_cast<std::uint8_t>(microsecondsPerQuarter >> 16),
                 static_cast<std::uint8_t>(microsecondsPerQuarter >> 8),
                 static_cast<std::uint8_t>(microsecondsPerQuarter)});
}

Bytes riff(const Bytes& smf, const Bytes& chunksBefore)
{
    Bytes data = cat({text("data"), little32(static_cast<std::uint32_t>(smf.size())), smf});
    if (smf.size() % 2)
        data.push_back(0);
    Bytes body = cat({text("RMID"), chunksBefore, data});
    return cat({text("RIFF"), little32(static_cast<std::uint32_t>(body.size())), body});
}

music::LoadResult load(const Bytes& bytes)
{
    return music::load(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
}

std::vector<std::string> lines(const music::Segment& segment)
{
    std::vector<std::string> out;
    for (const music::Event& event : segment.events()) {
        std::string line = std::to_string(event.time()) + ' ' +
                           std::to_string(segment.realTime(event)) + ' ' +
                           std::to_string(segment.track(event));
        char hex[4];
        if (event.isMeta()) {
            std::snprintf(hex, sizeof hex, " %02X", segment.metaType(event));
            line += " FF";
            line += hex;
        }
        for (std::uint8_t byte : segment.bytes(event)) {
            std::snprintf(hex, sizeof hex, " %02X", byte);
            line += hex;
        }
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> eventLines(const Bytes& bytes)
{
    const music::LoadResult result = load(bytes);
    if (!result)
        return {"load failed: " + result.reason()};
    return lines(*result.value());
}

} // namespace midibytes
