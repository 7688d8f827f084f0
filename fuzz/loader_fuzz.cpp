// libFuzzer target for the MIDI file loader: any bytes must load or fail
// cleanly, and a loaded segment must hold together.
#include "loader.h"

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const music::LoadResult result = music::load(std::span<const std::uint8_t>(data, size));
    if (!result) {
        require(result.error() != music::Error::None && !result.reason().empty());
        return 0;
    }
    const music::Segment& segment = *result.value();
    require(segment.trackCount() > 0);
    require(segment.events().size() <= size / 2);
    music::MusicTime lastTime = 0;
    std::uint64_t lastReal = 0;
    std::size_t bytes = 0;
    for (const music::Event& event : segment.events()) {
        require(event.time() >= lastTime && event.time() <= segment.length());
        require(event.track() < segment.trackCount());
        const std::uint64_t real = segment.realTime(event);
        require(real >= lastReal);
        lastTime = event.time();
        lastReal = real;
        const music::MessageBytes message = segment.bytes(event);
        for (std::uint8_t byte : message)
            bytes += byte;
        if (event.isChannel())
            require(message.size() >= 2 && message[0] == event.status());
        else if (event.status() == 0xF0)
            require(message.size() >= 2 && message[0] == 0xF0 &&
                    message[message.size() - 1] == 0xF7);
        else if (event.isMeta())
            require(segment.metaType(event) != 0 || message.size() == 0 || true);
    }
    const music::TempoMap& map = segment.tempoMap();
    for (music::MusicTime time : {0, segment.length() / 2, segment.length()}) {
        const std::uint64_t real = map.realTime(time);
        require(map.musicTime(real) <= time);
        require(map.musicTime(real + 1) >= time);
    }
    return bytes == 0xFFFFFFFF ? 1 : 0;
}
