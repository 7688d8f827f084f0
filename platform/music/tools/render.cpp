// Renders a MIDI file to a WAV file through the player's own engine: the
// built-in synthesizer and the performance on the offline clock, with the
// General MIDI reset the player sends. The file ends when the last notes have
// died away; it is written while it is rendered. With --play the file is
// played in real time instead, through the first audio driver that works
// (--silent: the silent sink), which is how the player's own cost while
// playing is measured. Either way a summary tells what reached the
// synthesizer: every note of the piece, or the note ons it shed because it
// could not keep up. On a terminal, work that takes more than a moment shows
// how far it is on standard error; elsewhere nothing is added to the output.
//
//   brisolde-render IN.mid OUT.wav [--soundfont FILE] [--rate HZ] [--dry]
//   brisolde-render --play [--silent] IN.mid [--soundfont FILE] [--rate HZ]
#include "loader.h"
#include "notificationqueue.h"
#include "performance.h"
#include "synthesizer.h"
#include "wavwriter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

// Rendered and written this many frames at a time.
constexpr int kBlock = 4096;
// The tail ends when a tenth of a second stays below this level (about -80 dBFS).
constexpr float kSilence = 1e-4f;
constexpr double kMaxTailSeconds = 20.0;

int usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s IN.mid OUT.wav [--soundfont FILE] [--rate HZ] [--dry]\n"
                 "       %s --play [--silent] IN.mid [--soundfont FILE] [--rate HZ]\n",
                 program, program);
    return 2;
}

std::string duration(double seconds)
{
    const auto whole = static_cast<long long>(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    return text;
}

// "4:05", or "1:02:03" from an hour on.
std::string clockTime(double seconds)
{
    const auto whole = static_cast<long long>(seconds);
    char text[64];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// A line on the terminal saying how far the work is, such as "rendering:
// 1:05 of 4:30 (24%)". Only where standard error is a terminal, only once
// the work has taken more than a moment, redrawn a few times a second and
// wiped when the work ends, so that what follows starts on a clean line.
class Progress
{
public:
    Progress(const char* doing, double totalSeconds)
        : m_doing(doing), m_total(totalSeconds), m_shown(::isatty(STDERR_FILENO) == 1),
          m_next(std::chrono::steady_clock::now() + kFirstAfter)
    {
    }
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `doneSeconds` of the piece are done.
    void update(double doneSeconds)
    {
        if (!m_shown)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now < m_next)
            return;
        m_next = now + kPeriod;
        const double done = std::clamp(doneSeconds, 0.0, m_total);
        const int percent = m_total > 0 ? int(done * 100 / m_total) : 100;
        std::fprintf(stderr, "\r%s: %s of %s (%d%%)\033[K", m_doing, clockTime(done).c_str(),
                     clockTime(m_total).c_str(), percent);
        std::fflush(stderr);
        m_drawn = true;
    }
    // Wipes the line, if one was drawn.
    void finish()
    {
        if (m_drawn) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
        m_drawn = false;
        m_shown = false;
    }

private:
    static constexpr std::chrono::milliseconds kFirstAfter{300};
    static constexpr std::chrono::milliseconds kPeriod{100};
    const char* m_doing;
    double m_total;
    bool m_shown;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_next;
};

struct NoteCount
{
    std::uint64_t ons = 0;
    std::uint64_t offs = 0;
};

NoteCount notesOf(const music::Segment& segment)
{
    NoteCount count;
    for (const music::Event& e : segment.events()) {
        if ((e.status() & 0xF0) == 0x90 && e.data2() != 0)
            ++count.ons;
        else if ((e.status() & 0xF0) == 0x80 || (e.status() & 0xF0) == 0x90)
            ++count.offs;
    }
    return count;
}

// "12000 note ons and 12000 note offs reached the synthesizer, 0 note ons were
// shed": against the piece's own count, so that a loss would show.
void printSummary(const music::Synthesizer& port, const music::Segment& segment)
{
    const NoteCount piece = notesOf(segment);
    const auto counts = port.counts();
    std::printf("notes: the piece has %llu note ons and %llu note offs; %llu note ons and %llu "
                "note offs reached the synthesizer, %llu note ons were shed",
                static_cast<unsigned long long>(piece.ons),
                static_cast<unsigned long long>(piece.offs),
                static_cast<unsigned long long>(counts.noteOns),
                static_cast<unsigned long long>(counts.noteOffs),
                static_cast<unsigned long long>(counts.shedNoteOns));
    if (counts.shedNoteOns > 0)
        std::printf(" (too short to be heard while the synthesizer could not keep up)");
    const bool complete =
        counts.noteOns + counts.shedNoteOns == piece.ons && counts.noteOffs == piece.offs;
    std::printf("%s\n", complete ? "" : "; SOME ARE MISSING");
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
int play(music::Synthesizer& port, const std::shared_ptr<music::Segment>& segment)
{
    music::NotificationQueue notifications;
    music::Performance performance(music::Performance::Clock::RealTime);
    std::fprintf(stderr, "playing through %s\n", port.outputName().c_str());
    const auto started = std::chrono::steady_clock::now();
    const double length = double(segment->tempoMap().realTime(segment->length())) / 1e6;
    Progress progress("playing", length);
    startPlaying(performance, notifications, port, segment);
    const auto elapsed = [&started] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    for (;;) {
        // Wakes for the progress line too, while the piece plays.
        pollfd ready{notifications.fd(), POLLIN, 0};
        progress.update(elapsed());
        if (::poll(&ready, 1, 100) == 0)
            continue;
        if (!notifications.wait())
            break;
        const auto n = notifications.take();
        if (n && n->option != music::SegmentOption::Start)
            break;
    }
    progress.finish();
    const double took = elapsed();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    performance.CloseDown();
    std::printf("time: the piece lasts %.3f s; its end came after %.3f s\n", length, took);
    printSummary(port, *segment);
    return 0;
}

int render(const char* program, music::Synthesizer& port,
           const std::shared_ptr<music::Segment>& segment, const std::string& out, int rate)
{
    // A WAV file's sizes are 32 bits: a piece longer than that is refused
    // before anything is rendered; a tail that would go past it is cut there.
    music::tools::WavWriter wav(out, rate);
    const double length = double(segment->tempoMap().realTime(segment->length())) / 1e6;
    if (length * rate > double(wav.maxFrames())) {
        std::fprintf(stderr,
                     "%s: the piece lasts %s; a WAV file holds at most %s of 16-bit stereo at "
                     "%d Hz\n",
                     program, duration(length).c_str(),
                     duration(double(wav.maxFrames()) / rate).c_str(), rate);
        return 1;
    }
    if (music::Status opened = wav.open(); !opened.ok()) {
        std::fprintf(stderr, "%s: %s\n", program, opened.reason().c_str());
        return 1;
    }
    music::NotificationQueue notifications;
    music::Performance performance(music::Performance::Clock::Offline);
    startPlaying(performance, notifications, port, segment);

    std::vector<float> left(kBlock);
    std::vector<float> right(kBlock);
    std::uint64_t rendered = 0;
    std::uint64_t ended = 0;    // frame where the piece ended, once it has
    std::uint64_t lastLoud = 0; // last frame above the silence level
    const std::uint64_t quiet = std::uint64_t(rate / 10);
    const auto maxTail = std::uint64_t(kMaxTailSeconds * rate);
    Progress progress("rendering", length);
    for (;;) {
        progress.update(double(rendered) / rate);
        performance.pump();
        port.renderOffline(left.data(), right.data(), kBlock);
        for (std::size_t i = 0; i < std::size_t(kBlock); ++i) {
            if (std::fabs(left[i]) > kSilence || std::fabs(right[i]) > kSilence)
                lastLoud = rendered + i;
        }
        const music::Outcome<std::size_t> kept = wav.append(left.data(), right.data(), kBlock);
        if (!kept) {
            progress.finish();
            std::fprintf(stderr, "%s: %s\n", program, kept.reason().c_str());
            return 1;
        }
        rendered += *kept;
        if (!ended) {
            while (auto n = notifications.take()) {
                if (n->option == music::SegmentOption::End)
                    ended = rendered;
            }
            if (!wav.full())
                continue;
            ended = rendered;
        }
        const std::uint64_t endOfSound = std::max(ended, lastLoud + 1);
        if (rendered - endOfSound >= quiet || rendered - ended >= maxTail || wav.full()) {
            progress.finish();
            if (wav.full())
                std::fprintf(stderr, "%s: the last notes' tail is cut where a WAV file ends\n",
                             program);
            if (music::Status finished = wav.finish(std::min(rendered, endOfSound + quiet / 10));
                !finished.ok()) {
                std::fprintf(stderr, "%s: %s\n", program, finished.reason().c_str());
                return 1;
            }
            std::printf("%s: %.3f s of audio\n", out.c_str(), double(wav.frames()) / rate);
            printSummary(port, *segment);
            return 0;
        }
    }
}

int run(int argc, char* argv[])
{
    std::vector<std::string> files;
    music::SynthesizerOptions options;
    options.output = music::SynthOutput::Offline;
    bool realTime = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--play")) {
            realTime = true;
            if (options.output == music::SynthOutput::Offline)
                options.output = music::SynthOutput::Device;
        } else if (!std::strcmp(argv[i], "--silent"))
            options.output = music::SynthOutput::SilentSink;
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
        options.sampleRate > 192000 || (!realTime && options.output != music::SynthOutput::Offline))
        return usage(argv[0]);
    // Offline, nothing waits for the sound: FluidSynth renders voices on
    // every core.
    if (!realTime)
        options.cpuCores = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));

    music::LoadResult loaded = music::loadFile(files[0]);
    if (!loaded) {
        std::fprintf(stderr, "%s: %s\n", files[0].c_str(), loaded.reason().c_str());
        return 1;
    }
    const std::shared_ptr<music::Segment> segment = loaded.value();
    const std::unique_ptr<music::Synthesizer> synthesizer = music::makeSynthesizer(options);
    music::Synthesizer& port = *synthesizer;
    music::Status ready = port.activate(true);
    if (ready.ok())
        ready = port.download(music::instrumentsPlayed(*segment));
    if (!ready.ok()) {
        std::fprintf(stderr, "%s: %s\n", argv[0],
                     ready.reason().empty() ? "the synthesizer cannot play"
                                            : ready.reason().c_str());
        return 1;
    }
    if (realTime)
        return play(port, segment);
    return render(argv[0], port, segment, files[1], options.sampleRate);
}

} // namespace

int main(int argc, char* argv[])
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", argv[0]);
        return 1;
    }
}
