#include "benchfile.h"

#include <random>

namespace bench {

namespace {

void putVarLen(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    std::uint8_t bytes[4];
    int count = 0;
    do {
        bytes[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (count-- > 1)
        out.push_back(static_cast<std::uint8_t>(bytes[count] | 0x80));
    out.push_back(bytes[0]);
}

void putBig32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::vector<std::uint8_t> makeTrack(int index, std::size_t bytes, std::mt19937& random)
{
    const auto next = [&random] {
        return static_cast<std::uint32_t>(random());
    };
    std::vector<std::uint8_t> events;
    events.reserve(bytes + 64);
    const std::uint8_t channel = static_cast<std::uint8_t>(index % 16);
    const auto noteOn = static_cast<std::uint8_t>(0x90 | channel);
    std::uint8_t running = 0;
    const auto put = [&](std::uint32_t delta, std::uint8_t status, std::uint8_t a, int b) {
        putVarLen(events, delta);
        if (status != running) {
            events.push_back(status);
            running = status;
        }
        events.push_back(a);
        if (b >= 0)
            events.push_back(static_cast<std::uint8_t>(b));
    };
    put(0, static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(index * 3 % 128),
        -1);
    std::uint8_t sounding[4] = {};
    while (events.size() < bytes) {
        const std::uint32_t step = next() % 8;
        const std::uint32_t delta = step < 5 ? 0 : (step < 7 ? 60 + next() % 60 : 200);
        const std::uint32_t kind = next() % 32;
        if (index == 0 && kind == 0) {
            // Tempo changes keep the tempo map busy.
            putVarLen(events, delta);
            events.insert(events.end(),
                          {0xFF, 0x51, 0x03, 0x07, static_cast<std::uint8_t>(next()), 0x20});
        } else if (kind < 2) {
            put(delta, static_cast<std::uint8_t>(0xB0 | channel),
                static_cast<std::uint8_t>(next() % 120), static_cast<int>(next() % 128));
        } else if (kind < 3) {
            put(delta, static_cast<std::uint8_t>(0xE0 | channel),
                static_cast<std::uint8_t>(next() % 128), static_cast<int>(next() % 128));
        } else {
            // A note ends (velocity 0) and another starts, in one running status.
            std::uint8_t& slot = sounding[next() % 4];
            if (slot)
                put(delta, noteOn, slot, 0);
            slot = static_cast<std::uint8_t>(36 + next() % 60);
            put(0, noteOn, slot, static_cast<int>(1 + next() % 127));
        }
    }
    events.insert(events.end(), {0x00, 0xFF, 0x2F, 0x00});
    return events;
}

} // namespace

std::vector<std::uint8_t> makeBenchFile(std::size_t targetBytes, int tracks)
{
    std::mt19937 random(20261208);
    const auto high = static_cast<std::uint8_t>(tracks >> 8);
    const auto low = static_cast<std::uint8_t>(tracks);
    const std::uint8_t format = tracks > 1 ? 1 : 0;
    std::vector<std::uint8_t> file = {'M', 'T', 'h',    'd',  0,   0,    0,
                                      6,   0,   format, high, low, 0x01, 0xE0};
    file.reserve(targetBytes + 1024);
    for (int i = 0; i < tracks; ++i) {
        const std::vector<std::uint8_t> events =
            makeTrack(i, targetBytes / static_cast<std::size_t>(tracks) - 8, random);
        file.insert(file.end(), {'M', 'T', 'r', 'k'});
        putBig32(file, static_cast<std::uint32_t>(events.size()));
        file.insert(file.end(), events.begin(), events.end());
    }
    return file;
}

} // namespace bench
