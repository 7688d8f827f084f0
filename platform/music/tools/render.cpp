// Renders a MIDI file to a WAV file through the player's own engine: the
// built-in synthesizer and the performance on the offline clock, with the
// General MIDI reset the player sends. The file ends when the last notes have
// died away. With --play the file is played in real time instead, through the
// first audio driver that works (--silent: the silent sink), which is how the
// player's own cost while playing is measured.
//
//   brisolde-render IN.mid OUT.wav [--soundfont FILE] [--rate HZ] [--dry]
//   brisolde-render --play [--silent] IN.mid [--soundfont FILE] [--rate HZ]
#include "internal/synthport.h"
#include "loader.h"
#include "notificationqueue.h"
#include "performance.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBlock = 512;
// The tail ends when a tenth of a second stays below this level (about -80 dBFS).
constexpr float kSilence = 1e-4f;
constexpr double kMaxTailSeconds = 20.0;

void put16(std::ofstream& out, std::uint16_t v)
{
    const char b[2] = {char(v & 0xFF), char(v >> 8)};
    out.write(b, 2);
}

void put32(std::ofstream& out, std::uint32_t v)
{
    const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                       char(v >> 24)};
    out.write(b, 4);
}

bool writeWav(const std::string& path, const std::vector<float>& left,
              const std::vector<float>& right, std::size_t frames, int rate)
{
    std::ofstream out(path, std::ios::binary);
    if (!out)
        return false;
    const std::uint32_t dataBytes = std::uint32_t(frames * 4);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 2);
    put32(out, std::uint32_t(rate));
    put32(out, std::uint32_t(rate) * 4);
    put16(out, 4);
    put16(out, 16);
    out.write("data", 4);
    put32(out, dataBytes);
    auto sample = [](float v) {
        const float clamped = std::clamp(v, -1.0f, 1.0f);
        return std::uint16_t(std::int16_t(std::lround(clamped * 32767.0f)));
    };
    for (std::size_t i = 0; i < frames; ++i) {
        put16(out, sample(left[i]));
        put16(out, sample(right[i]));
    }
    return bool(out);
}

int usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s IN.mid OUT.wav [--soundfont FILE] [--rate HZ] [--dry]\n"
                 "       %s --play [--silent] IN.mid [--soundfont FILE] [--rate HZ]\n",
                 program, program);
    return 2;
}

// The performance on `port`, asked for segment notifications, after the
// General MIDI reset the player sends, playing `segment` from its start.
void startPlaying(music::Performance& performance, music::NotificationQueue& notifications,
                  music::Port& port, const std::shared_ptr<music::Segment>& segment)
{
    performance.Init();
    performance.SetNotificationHandle(&notifications);
    performance.AddNotificationType(music::NotificationType::Segment);
    performance.AddPort(&port);
    const std::uint8_t gmOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    performance.SendSysEx(gmOn);
    std::shared_ptr<music::SegmentState> state;
    performance.PlaySegment(segment, music::Performance::kStartAtBeat, &state);
}

// Plays in real time and returns when the piece and its last notes are over.
int play(music::internal::SynthPort& port, const std::shared_ptr<music::Segment>& segment)
{
    music::NotificationQueue notifications;
    music::Performance performance(music::Performance::Clock::RealTime);
    startPlaying(performance, notifications, port, segment);
    std::fprintf(stderr, "playing through %s\n", port.outputName().c_str());
    while (notifications.wait()) {
        const auto n = notifications.take();
        if (n && n->option != music::SegmentOption::Start)
            break;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    performance.CloseDown();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::vector<std::string> files;
    music::internal::SynthOptions options;
    options.mode = music::internal::AudioMode::Offline;
    bool realTime = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--play")) {
            realTime = true;
            if (options.mode == music::internal::AudioMode::Offline)
                options.mode = music::internal::AudioMode::Device;
        } else if (!std::strcmp(argv[i], "--silent"))
            options.mode = music::internal::AudioMode::SilentSink;
        else if (!std::strcmp(argv[i], "--dry"))
            options.reverb = options.chorus = false;
        else if (!std::strcmp(argv[i], "--soundfont") && i + 1 < argc)
            options.soundFont = argv[++i];
        else if (!std::strcmp(argv[i], "--rate") && i + 1 < argc)
            options.sampleRate = std::atoi(argv[++i]);
        else if (argv[i][0] == '-' && argv[i][1] == '-')
            return usage(argv[0]);
        else
            files.push_back(argv[i]);
    }
    if (files.size() != (realTime ? 1u : 2u) || options.sampleRate < 8000 ||
        options.sampleRate > 192000 ||
        (!realTime && options.mode != music::internal::AudioMode::Offline))
        return usage(argv[0]);

    music::LoadResult loaded = music::loadFile(files[0]);
    if (!loaded) {
        std::fprintf(stderr, "%s: %s\n", files[0].c_str(), loaded.reason.c_str());
        return 1;
    }
    music::internal::SynthPort port(options);
    if (port.activate(true) != music::Result::Ok ||
        port.download(music::instrumentsPlayed(*loaded.segment)) != music::Result::Ok) {
        std::fprintf(stderr, "%s: %s\n", argv[0],
                     port.problem().empty() ? "the synthesizer cannot play"
                                            : port.problem().c_str());
        return 1;
    }
    if (realTime)
        return play(port, loaded.segment);

    music::NotificationQueue notifications;
    music::Performance performance(music::Performance::Clock::Offline);
    startPlaying(performance, notifications, port, loaded.segment);

    std::vector<float> left;
    std::vector<float> right;
    std::size_t ended = 0;    // frame where the piece ended, once it has
    std::size_t lastLoud = 0; // last frame above the silence level
    const std::size_t quiet = std::size_t(options.sampleRate / 10);
    const std::size_t maxTail = std::size_t(kMaxTailSeconds * options.sampleRate);
    for (;;) {
        performance.pump();
        const std::size_t at = left.size();
        left.resize(at + kBlock);
        right.resize(at + kBlock);
        port.renderOffline(left.data() + at, right.data() + at, kBlock);
        for (std::size_t i = at; i < at + kBlock; ++i) {
            if (std::fabs(left[i]) > kSilence || std::fabs(right[i]) > kSilence)
                lastLoud = i;
        }
        if (!ended) {
            while (auto n = notifications.take()) {
                if (n->option == music::SegmentOption::End)
                    ended = at + kBlock;
            }
            continue;
        }
        const std::size_t endOfSound = std::max(ended, lastLoud + 1);
        if (left.size() - endOfSound >= quiet || left.size() - ended >= maxTail) {
            const std::size_t frames = std::min(left.size(), endOfSound + quiet / 10);
            if (!writeWav(files[1], left, right, frames, options.sampleRate)) {
                std::fprintf(stderr, "%s: cannot write %s\n", argv[0], files[1].c_str());
                return 1;
            }
            return 0;
        }
    }
}
