// libFuzzer target for the MIDI file loader: any bytes must load or fail
// cleanly, a loaded segment must hold together, and the loader must give the
// same segment on one thread and on two.
#include "loader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

music::LoadResult loadOn(const std::uint8_t* data, std::size_t size, unsigned threads)
{
    music::LoadOptions options;
    options.threads = threads;
    return music::load(std::span<const std::uint8_t>(data, size), options);
}

bool isKeptMeta(std::uint8_t type)
{
    switch (type) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x2F:
    case 0x51:
    case 0x58:
    case 0x59:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const music::LoadResult result = loadOn(data, size, 1);
    const music::LoadResult shared = loadOn(data, size, 2);
    require(result.ok() == shared.ok());
    if (!result) {
        require(result.code() == music::Result::Failed);
        require(result.error() != music::Error::None && !result.reason().empty());
        require(shared.error() == result.error() && shared.reason() == result.reason());
        return 0;
    }
    const music::Segment& segment = *result.value();
    const music::Segment& other = *shared.value();
    require(segment.trackCount() > 0);
    require(segment.events().size() <= size / 2);
    require(other.events().size() == segment.events().size());
    require(other.length() == segment.length() && other.warnings() == segment.warnings());

    music::MusicTime lastTime = 0;
    std::uint64_t lastReal = 0;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < segment.events().size(); ++i) {
        const music::Event& event = segment.events()[i];
        require(event.time() >= lastTime && event.time() <= segment.length());
        require(segment.track(event) < segment.trackCount());
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
            require(isKeptMeta(segment.metaType(event)));

        // The same event, in the same place, from the loader on two threads.
        const music::Event& twin = other.events()[i];
        const music::MessageBytes twinMessage = other.bytes(twin);
        require(twin.time() == event.time() && twin.status() == event.status());
        require(other.track(twin) == segment.track(event) && other.realTime(twin) == real);
        require(twinMessage.size() == message.size() &&
                std::memcmp(twinMessage.data(), message.data(), message.size()) == 0);
    }
    const music::TempoMap& map = segment.tempoMap();
    for (music::MusicTime time : {0, segment.length() / 2, segment.length()}) {
        const std::uint64_t real = map.realTime(time);
        require(map.musicTime(real) <= time);
        require(map.musicTime(real + 1) >= time);
    }
    return bytes == 0xFFFFFFFF ? 1 : 0;
}
