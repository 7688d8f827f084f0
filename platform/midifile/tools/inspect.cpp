// brisolde-inspect: prints a MIDI file as the player loads it, one line per
// event with its music time and real time, to diagnose files that play wrong
// and to check the timing against other tools.
#include "loader.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fputs("usage: brisolde-inspect [--summary] FILE\n", stderr);
    return 2;
}

// One event as "MT US TRACK HEX"; meta events as FF, type and data.
void printEvent(std::string& line, const music::Segment& segment, const music::Event& event)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    char head[64];
    std::snprintf(head, sizeof head, "%d %llu %d", event.time(),
                  static_cast<unsigned long long>(segment.realTime(event)), segment.track(event));
    line = head;
    const auto appendByte = [&line](std::uint8_t byte) {
        line += ' ';
        line += kHex[byte >> 4];
        line += kHex[byte & 0xF];
    };
    if (event.isMeta()) {
        appendByte(0xFF);
        appendByte(segment.metaType(event));
    }
    for (std::uint8_t byte : segment.bytes(event))
        appendByte(byte);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    bool summary = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--summary") == 0 && !summary)
            summary = true;
        else if (std::strcmp(argv[i], "--") == 0 && i + 2 == argc && !path)
            path = argv[++i];
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return usage();
        else if (!path)
            path = argv[i];
        else
            return usage();
    }
    if (!path)
        return usage();

    // Loaded through the player's own loader, so the output is what it plays.
    music::Loader loader;
    const music::LoadResult result = loader.getObject(path);
    if (!result) {
        std::fprintf(stderr, "%s: %s\n", path, result.reason().c_str());
        return 1;
    }
    const music::Segment& segment = *result.value();
    std::printf("format %d tracks %d division %d\n", segment.format(), segment.trackCount(),
                segment.division());
    std::printf("length %d\n", segment.length());
    if (summary) {
        std::printf("events %zu\n", segment.events().size());
    } else {
        std::string line;
        for (const music::Event& event : segment.events())
            printEvent(line, segment, event);
    }
    std::fflush(stdout);
    for (const std::string& warning : segment.warnings())
        std::fprintf(stderr, "%s\n", warning.c_str());
    return std::ferror(stdout) ? 1 : 0;
}
