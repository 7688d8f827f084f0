#include "allocationcount.h"
#include "internal/alsaport.h"
#include "internal/synthport.h"
#include "notificationqueue.h"
#include "portmanager.h"
#include "recordingport.h"
#include "wavwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <thread>

using namespace music;
using namespace music::internal;

namespace {

constexpr int kRate = 44100;

SynthOptions offline()
{
    SynthOptions options;
    options.mode = AudioMode::Offline;
    options.sampleRate = kRate;
    options.reverb = false;
    return options;
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> out;
    for (int v : values)
        out.push_back(std::uint8_t(v));
    return out;
}

// Renders `frames` frames in driver buffers of `buffer` frames; the left channel.
std::vector<float> render(SynthPort& port, int frames, int buffer)
{
    std::vector<float> left(static_cast<std::size_t>(frames));
    std::vector<float> right(static_cast<std::size_t>(frames));
    for (int done = 0; done < frames; done += buffer) {
        const int n = std::min(buffer, frames - done);
        port.renderOffline(left.data() + done, right.data() + done, n);
    }
    return left;
}

int firstSound(const std::vector<float>& audio, int from, float threshold = 1e-3f)
{
    for (std::size_t i = std::size_t(from); i < audio.size(); ++i) {
        if (std::fabs(audio[i]) > threshold)
            return int(i);
    }
    return -1;
}

float peak(const std::vector<float>& audio, std::size_t from, std::size_t to)
{
    float p = 0;
    for (std::size_t i = from; i < std::min(to, audio.size()); ++i)
        p = std::max(p, std::fabs(audio[i]));
    return p;
}

// The instruments the tests play: the piano, and the standard drum kit.
constexpr Instrument kPiano[] = {{0, 0, false}};
constexpr Instrument kDrums[] = {{0, 0, true}};

std::int64_t usForFrame(std::int64_t frame)
{
    return frame * 1000000 / kRate;
}

} // namespace

TEST(SynthPort, NotesSoundWithinHalfABlockOfTheirTimeWhateverTheDriverBuffer)
{
    for (int buffer : {64, 4096, 1000}) {
        // Isolated side-stick hits at times that fall between blocks.
        for (std::int64_t frame : {4410, 9000, 13337, 20011}) {
            SCOPED_TRACE(testing::Message() << "buffer " << buffer << ", ideal " << frame);
            SynthPort port(offline());
            ASSERT_EQ(port.activate(true), Result::Ok);
            const Status downloaded = port.download(kDrums);
            ASSERT_EQ(downloaded, Result::Ok) << downloaded.reason();
            port.schedule(usForFrame(frame), bytes({0x99, 37, 127}));
            const auto audio = render(port, 24000, buffer);
            const int onset = firstSound(audio, 0, 0.0f);
            ASSERT_GE(onset, 0);
            // FluidSynth starts a voice at the start of the block that holds the note on.
            EXPECT_LE(std::abs(onset - int(frame)), 32);
        }
    }
}

TEST(SynthPort, SilenceEndsHeldNotesWithinTheReleaseTime)
{
    SynthPort port(offline());
    ASSERT_EQ(port.activate(true), Result::Ok);
    const Instrument strings[] = {{0, 48, false}, {0, 19, false}};
    ASSERT_EQ(port.download(strings), Result::Ok);
    // Strings with the sustain pedal down on two channels, and a note far in the future.
    port.schedule(0, bytes({0xC0, 48}));
    port.schedule(0, bytes({0xB0, 64, 127}));
    port.schedule(0, bytes({0x90, 60, 110}));
    port.schedule(0, bytes({0xC5, 19}));
    port.schedule(0, bytes({0xB5, 64, 127}));
    port.schedule(0, bytes({0x95, 48, 110}));
    port.schedule(usForFrame(kRate * 5), bytes({0x90, 72, 110}));
    auto before = render(port, kRate / 2, 512);
    ASSERT_GT(peak(before, kRate / 4, kRate / 2), 0.01f);

    port.silence();
    const auto after = render(port, kRate * 8, 512);
    // Allow the instruments' release (organ and strings take about a second or two).
    EXPECT_LT(peak(after, std::size_t(kRate * 3), std::size_t(kRate * 8)), 1e-4f)
        << "nothing may sound after the release, nor may the dropped note start";
}

TEST(SynthPort, InstrumentsSoundOnlyWhileDownloaded)
{
    SynthPort port(offline());
    ASSERT_EQ(port.activate(true), Result::Ok);
    auto hit = [&port] {
        const std::int64_t t = port.now() + 1000;
        port.schedule(t, bytes({0x90, 64, 120}));
        port.schedule(t + 200000, bytes({0x80, 64, 0}));
        const auto audio = render(port, kRate, 1024);
        return peak(audio, 0, audio.size());
    };
    EXPECT_EQ(hit(), 0.0f) << "no instruments before the download";
    ASSERT_EQ(port.download(kPiano), Result::Ok);
    EXPECT_TRUE(port.isDownloaded());
    EXPECT_GT(hit(), 0.01f);
    ASSERT_EQ(port.unload(), Result::Ok);
    EXPECT_LT(hit(), 1e-4f) << "only the last note's release tail may remain";
    ASSERT_EQ(port.download(kPiano), Result::Ok);
    EXPECT_GT(hit(), 0.01f) << "a repeated download works without reading the file again";
}

// Without any SoundFont the port is still listed and made, says so in its
// description and tells which package to install; a download says why it fails.
TEST(SynthPort, WithoutASoundFontThePortStaysButCannotDownload)
{
    QTemporaryDir empty;
    SynthOptions options = offline();
    options.soundFontFolder = empty.path().toStdString();
    SynthPort port(options);
    EXPECT_EQ(port.caps().id, SynthPort::kId);
    EXPECT_TRUE(port.caps().downloadsInstruments);
    EXPECT_EQ(port.caps().description, "Built-in synthesizer (FluidSynth) \u2013 no SoundFont");
    EXPECT_NE(port.caps().notice.find("install timgm6mb-soundfont or fluid-soundfont-gm"),
              std::string::npos);
    EXPECT_EQ(port.activate(true), Result::Ok);
    const Status downloaded = port.download(kPiano);
    EXPECT_EQ(downloaded, Result::Failed);
    EXPECT_NE(downloaded.reason().find("no General MIDI SoundFont in ~/data/sounds/sf2 or " +
                                       options.soundFontFolder),
              std::string::npos)
        << downloaded.reason();

    PortManager::Options managerOptions;
    managerOptions.alsa = false;
    managerOptions.soundFontFolder = options.soundFontFolder;
    PortManager manager(managerOptions);
    PortCaps listed;
    ASSERT_EQ(manager.enumPort(0, listed), Result::Ok);
    EXPECT_EQ(listed.description, port.caps().description);
    EXPECT_EQ(listed.notice, port.caps().notice);
}

namespace {

// Sets an environment variable (null: unsets it) for the life of the object.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const QString& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = QByteArray(old);
        if (value.isNull())
            ::unsetenv(name);
        else
            ::setenv(name, QFile::encodeName(value).constData(), 1);
    }
    ~ScopedEnvironment()
    {
        if (m_old)
            ::setenv(m_name, m_old->constData(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};

bool touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

// The user's SoundFonts ($XDG_DATA_HOME/sounds/sf2, else
// ~/.local/share/sounds/sf2) come before the system's ($XDG_DATA_DIRS'
// sounds/sf2 folders, /usr/share/sounds/sf2 last), each folder in its own
// order: the General MIDI names first, then any .sf2 or .sf3 by name.
TEST(SynthPort, TheUsersSoundFontsComeBeforeTheSystems)
{
    QTemporaryDir root;
    const QString user = root.filePath(QStringLiteral("data/sounds/sf2"));
    const QString system = root.filePath(QStringLiteral("system/sounds/sf2"));
    const ScopedEnvironment dataHome("XDG_DATA_HOME", root.filePath(QStringLiteral("data")));
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", root.filePath(QStringLiteral("system/")) +
                                                          QStringLiteral(":relative::") +
                                                          root.filePath(QStringLiteral("other")));
    EXPECT_EQ(
        soundFontFolders(),
        (std::vector<std::string>{user.toStdString(), system.toStdString(),
                                  root.filePath(QStringLiteral("other/sounds/sf2")).toStdString(),
                                  "/usr/share/sounds/sf2"}));
    EXPECT_EQ(soundFontFolders(system.toStdString()),
              (std::vector<std::string>{user.toStdString(), system.toStdString()}));
    {
        const ScopedEnvironment noDataHome("XDG_DATA_HOME", QString());
        const ScopedEnvironment home("HOME", root.filePath(QStringLiteral("home")));
        EXPECT_EQ(soundFontFolders(system.toStdString()).front(),
                  root.filePath(QStringLiteral("home/.local/share/sounds/sf2")).toStdString());
    }

    for (const char* name : {"b.sf2", "a.SF3", "notes.txt"})
        ASSERT_TRUE(touch(user + QLatin1Char('/') + QLatin1String(name)));
    for (const char* name : {"a.sf2", "TimGM6mb.sf2", "FluidR3_GM.sf2", "default-GM.sf2"})
        ASSERT_TRUE(touch(system + QLatin1Char('/') + QLatin1String(name)));
    const auto in = [](const QString& folder, const char* name) {
        return (folder + QLatin1Char('/') + QLatin1String(name)).toStdString();
    };
    EXPECT_EQ(soundFontCandidates(soundFontFolders(system.toStdString())),
              (std::vector<std::string>{in(user, "a.SF3"), in(user, "b.sf2"),
                                        in(system, "default-GM.sf2"), in(system, "FluidR3_GM.sf2"),
                                        in(system, "TimGM6mb.sf2"), in(system, "a.sf2")}));

    // The port reads the user's, though the system's has a General MIDI name.
    const QString real = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
    if (!QFile::exists(real))
        GTEST_SKIP() << "no SoundFont to read";
    QTemporaryDir playable;
    const QString mine = playable.filePath(QStringLiteral("data/sounds/sf2/mine.sf2"));
    const QString theirs = playable.filePath(QStringLiteral("system/default-GM.sf2"));
    QDir().mkpath(playable.filePath(QStringLiteral("data/sounds/sf2")));
    QDir().mkpath(playable.filePath(QStringLiteral("system")));
    ASSERT_TRUE(QFile::link(real, mine));
    ASSERT_TRUE(QFile::link(real, theirs));
    const ScopedEnvironment playableHome("XDG_DATA_HOME",
                                         playable.filePath(QStringLiteral("data")));
    SynthOptions options = offline();
    options.soundFontFolder = QFileInfo(theirs).path().toStdString();
    SynthPort port(options);
    EXPECT_EQ(port.caps().description, SynthPort::kDescription);
    EXPECT_TRUE(port.caps().notice.empty());
    ASSERT_EQ(port.download(kPiano), Result::Ok);
    EXPECT_EQ(port.soundFontPath(), mine.toStdString());
}

TEST(SynthPort, TheSilentSinkKeepsRealTimeAndSleepsWhenNothingSounds)
{
    SynthOptions options;
    options.mode = AudioMode::SilentSink;
    SynthPort port(options);
    ASSERT_EQ(port.activate(true), Result::Ok);
    EXPECT_EQ(port.outputName(), "silent");
    ASSERT_EQ(port.download(kPiano), Result::Ok);
    port.schedule(port.now(), bytes({0x90, 60, 100}));
    port.schedule(port.now() + 50000, bytes({0x80, 60, 0}));

    // Once the note has died away the sink stops rendering, while the clock
    // goes on with the time. (Waits are bounded; nothing here measures speed.)
    auto asleep = [&port] {
        const std::int64_t frames = port.framesRendered();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return port.framesRendered() == frames;
    };
    bool slept = false;
    for (int i = 0; i < 50 && !slept; ++i)
        slept = asleep();
    ASSERT_TRUE(slept) << "the sink goes on rendering silence";
    const std::int64_t start = port.now();
    const std::int64_t frames = port.framesRendered();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(port.framesRendered(), frames);
    const std::int64_t elapsed = port.now() - start;
    // Coarse bounds only.
    EXPECT_GT(elapsed, 100000);
    EXPECT_LT(elapsed, 2000000);

    // A message wakes it, at the time the clock tells.
    port.schedule(port.now() + 20000, bytes({0x90, 62, 100}));
    for (int i = 0; i < 500 && port.counts().noteOns < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(port.counts().noteOns, 2u);
    EXPECT_GT(port.framesRendered(), frames);
    EXPECT_GE(port.now(), start + elapsed) << "the clock never goes back";
    port.activate(false);
}

namespace {

// A sequencer that records what the port asks of it.
struct FakeSequencer : SequencerBackend
{
    struct Message
    {
        std::int64_t time; // -1: direct
        std::vector<std::uint8_t> bytes;
    };
    std::vector<SequencerPortInfo> list;
    std::vector<Message> sent;
    int drops = 0;
    bool gone = false;
    std::int64_t time = 0;

    std::vector<SequencerPortInfo> ports() override { return list; }
    bool portExists(int, int) override { return !gone; }
    bool startQueue() override { return true; }
    std::int64_t queueTime() override { return time; }
    Sent sendAt(int, int, std::int64_t t, std::span<const std::uint8_t> m) override
    {
        if (gone)
            return Sent::Refused;
        sent.push_back({t, {m.begin(), m.end()}});
        return Sent::Yes;
    }
    Sent sendDirect(int, int, std::span<const std::uint8_t> m) override
    {
        if (gone)
            return Sent::Refused;
        sent.push_back({-1, {m.begin(), m.end()}});
        return Sent::Yes;
    }
    void dropQueued() override { ++drops; }
};

} // namespace

TEST(AlsaPort, SchedulesAheadSilencesAndNoticesAVanishedPort)
{
    SequencerPortInfo through{14, 0, "Midi Through", "Midi Through Port-0", true};
    auto fake = std::make_unique<FakeSequencer>();
    FakeSequencer* seq = fake.get();
    AlsaPort port(std::move(fake), through);
    EXPECT_EQ(port.caps().id, "alsa:Midi Through:Midi Through Port-0");
    EXPECT_EQ(port.caps().description, "Midi Through:Midi Through Port-0");
    EXPECT_EQ(port.caps().portClass, PortClass::Output);
    EXPECT_FALSE(port.caps().downloadsInstruments);
    EXPECT_EQ(port.download(kPiano), Result::NotSupported);
    EXPECT_EQ(port.setReverb(true), Result::NotSupported);
    EXPECT_EQ(AlsaPort::capsFor({20, 0, "Keyboard", "in", false}).portClass, PortClass::Input);

    ASSERT_EQ(port.activate(true), Result::Ok);
    seq->time = 5000;
    EXPECT_EQ(port.now(), 5000);
    EXPECT_EQ(port.schedule(7000, bytes({0x90, 60, 100})), Result::Ok);
    ASSERT_EQ(seq->sent.size(), 1u);
    EXPECT_EQ(seq->sent[0].time, 7000);

    port.silence();
    EXPECT_EQ(seq->drops, 1);
    ASSERT_EQ(seq->sent.size(), 1u + 48u);
    EXPECT_EQ(seq->sent.back().time, -1);
    EXPECT_EQ(seq->sent.back().bytes, bytes({0xBF, 123, 0}));

    seq->gone = true;
    EXPECT_EQ(port.schedule(9000, bytes({0x90, 62, 100})), Result::Failed);
    EXPECT_FALSE(port.isAlive());
    port.silence(); // no crash, nothing sent to a port that is gone
    EXPECT_EQ(seq->sent.size(), 49u);
}

TEST(NotificationQueue, EachNotificationWakesOnceAndCloseWakesTheWaiter)
{
    NotificationQueue queue;
    ASSERT_TRUE(queue.isValid());
    for (std::uint64_t i = 1; i <= 3; ++i)
        queue.post({NotificationType::Segment, SegmentOption::End, i, 0});
    // Three signals, none coalesced.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(queue.wait());
    for (std::uint64_t i = 1; i <= 3; ++i) {
        auto n = queue.take();
        ASSERT_TRUE(n.has_value());
        EXPECT_EQ(n->instance, i);
    }
    EXPECT_FALSE(queue.take().has_value());

    bool woke = false;
    std::thread waiter([&] { woke = !queue.wait(); });
    queue.close();
    waiter.join();
    EXPECT_TRUE(woke);
    EXPECT_FALSE(queue.wait()) << "a closed queue never blocks again";
}

TEST(RecordingPort, DeliversDueMessagesInTimeOrderAndDropsTheRestOnSilence)
{
    RecordingPort port(true, true);
    port.activate(true);
    port.schedule(100, bytes({0x90, 60, 1}));
    port.schedule(300, bytes({0x90, 62, 1}));
    port.setNow(200);
    ASSERT_EQ(port.received().size(), 1u);
    EXPECT_EQ(port.received()[0].time, 100);
    port.silence();
    port.setNow(400);
    const auto got = port.received();
    EXPECT_EQ(got.size(), 1u + 48u);
    EXPECT_EQ(got.back().time, 200);
    EXPECT_EQ(port.pending(), 0u);
}

TEST(SynthPort, TheEffectsSwitchTurnsFluidSynthsReverbOnAndOff)
{
    // The tail after a short staccato note: reverb keeps it ringing.
    // The port is made with the other setting, then switched.
    auto tail = [](bool reverb) {
        SynthOptions options = offline();
        options.reverb = !reverb;
        options.chorus = false;
        SynthPort port(options);
        port.activate(true);
        EXPECT_EQ(port.download(kPiano), Result::Ok);
        port.setReverb(reverb);
        port.schedule(0, bytes({0x90, 72, 127}));
        port.schedule(50000, bytes({0x80, 72, 0}));
        const auto audio = render(port, kRate * 3, 512);
        return peak(audio, std::size_t(kRate * 1.5), audio.size());
    };
    const float wet = tail(true);
    const float dry = tail(false);
    EXPECT_GT(wet, dry * 4) << "wet " << wet << " dry " << dry;
}

TEST(SynthPort, SamplesInMemoryFollowThePiecesInstruments)
{
    SynthPort port(offline());
    ASSERT_EQ(port.activate(true), Result::Ok);
    EXPECT_EQ(port.instrumentsInMemory(), 0u) << "nothing is read before a piece needs it";
    const Instrument first[] = {{0, 0, false}, {0, 40, false}, {0, 0, true}};
    ASSERT_EQ(port.download(first), Result::Ok);
    EXPECT_EQ(port.instrumentsInMemory(), 3u);
    port.schedule(0, bytes({0xC0, 40}));
    port.schedule(0, bytes({0x90, 60, 100}));
    EXPECT_GT(peak(render(port, kRate / 2, 512), 0, kRate / 2), 0.01f);

    // The next piece plays one of those and a new one; the violin leaves
    // memory once its last note has died away.
    port.silence();
    port.unload();
    const Instrument second[] = {{0, 0, false}, {0, 73, false}};
    ASSERT_EQ(port.download(second), Result::Ok);
    EXPECT_GE(port.instrumentsInMemory(), 2u);
    for (int i = 0; i < 100 && port.instrumentsInMemory() > 2; ++i) {
        render(port, kRate / 10, 512);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(port.instrumentsInMemory(), 2u);
    port.schedule(port.now(), bytes({0xC1, 73}));
    port.schedule(port.now(), bytes({0x91, 72, 100}));
    EXPECT_GT(peak(render(port, kRate / 2, 512), 0, kRate / 2), 0.01f) << "the flute sounds";
}

TEST(SynthPort, TheAudioPathNeitherAllocatesNorFrees)
{
    // Playing, stopping, taking the instruments away and downloading them
    // again, with the reverb switched off and on. FluidSynth runs its effects
    // (the reverb) inside an OpenMP region, for which the OpenMP runtime
    // makes and frees a team every block: that is the runtime's own, counted
    // apart where this build can tell callers apart; everything else must
    // neither allocate nor free.
    SynthOptions options = offline();
    options.reverb = false;
    SynthPort port(options);
    ASSERT_EQ(port.activate(true), Result::Ok);
    const Instrument instruments[] = {{0, 0, false}, {0, 48, false}, {0, 0, true}};
    std::vector<float> left(4096);
    std::vector<float> right(4096);
    // Renders about a second in driver buffers of several sizes; what the
    // audio path allocated and freed meanwhile, and the OpenMP runtime's share.
    struct Counted
    {
        std::size_t allocations = 0;
        std::size_t frees = 0;
        std::size_t openMp = 0;
    };
    auto renderCounting = [&] {
        testsupport::AllocationCount count("libgomp");
        for (int buffer : {64, 1000, 4096, 512, 256, 4096, 4096, 4096, 4096, 4096, 4096, 4096})
            port.renderOffline(left.data(), right.data(), buffer);
        return Counted{count.allocations(), count.frees() + count.libraryFrees(),
                       count.libraryAllocations()};
    };
    auto expectNone = [](const Counted& counted, const char* what) {
        EXPECT_EQ(counted.allocations, 0u) << what;
        EXPECT_EQ(counted.frees, 0u) << what;
    };
    ASSERT_EQ(port.download(instruments), Result::Ok);
    renderCounting(); // the synthesizer's first blocks

    auto play = [&port] {
        // Notes, controllers, a program change, a long system exclusive
        // message and the General MIDI reset.
        const std::int64_t t = port.now();
        port.sendNow(bytes({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
        port.schedule(t, bytes({0xC0, 48}));
        port.schedule(t, bytes({0xB0, 64, 127}));
        for (int key = 40; key < 80; ++key) {
            port.schedule(t + key * 1000, bytes({0x90, key, 100}));
            port.schedule(t + key * 1000, bytes({0x99, key, 100}));
        }
        std::vector<std::uint8_t> longMessage{0xF0, 0x43, 0x10, 0x4C};
        longMessage.resize(40, 0x01);
        longMessage.push_back(0xF7);
        port.schedule(t + 90000, longMessage);
        port.schedule(t + 100000, bytes({0xE0, 0x00, 0x50}));
    };
    play();
    const Counted playing = renderCounting();
    expectNone(playing, "playing");
    EXPECT_EQ(playing.openMp, 0u) << "without an effect FluidSynth runs no OpenMP region";
    EXPECT_GT(port.counts().noteOns, 0u);
    port.silence();
    expectNone(renderCounting(), "stop");
    port.unload();
    expectNone(renderCounting(), "unload");
    ASSERT_EQ(port.download(instruments), Result::Ok);
    play();
    expectNone(renderCounting(), "download and play again");

    if (!testsupport::AllocationCount::knowsCallers()) {
        std::printf("with the reverb on, allocations cannot be told apart in this build\n");
        return;
    }
    // The runtime frees its team through calls that do not always show it
    // as the caller: every free must match one of its allocations (it keeps
    // one thing for the thread the first time).
    auto expectOnlyOpenMp = [](const Counted& counted, const char* what) {
        EXPECT_EQ(counted.allocations, 0u) << what;
        EXPECT_LE(counted.frees, counted.openMp) << what;
    };
    port.setReverb(true);
    play();
    const Counted reverb = renderCounting();
    expectOnlyOpenMp(reverb, "playing with reverb");
    std::printf("with reverb, the OpenMP runtime made %zu allocations in %d blocks\n",
                reverb.openMp, 34600 / 64);
    port.silence();
    expectOnlyOpenMp(renderCounting(), "stop with reverb");
}

TEST(WavWriter, StopsWhereTheFileIsFullAndKeepsItsSizesRight)
{
    // A WAV file's sizes are 32 bits: its largest data fills them exactly.
    EXPECT_LE(36 + music::tools::WavWriter::kMaxFrames * 4, 0xFFFFFFFFull);
    EXPECT_GT(36 + (music::tools::WavWriter::kMaxFrames + 1) * 4, 0xFFFFFFFFull);

    // A writer with a small limit stands in for a file of over 4 GiB.
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("out.wav")).toStdString();
    music::tools::WavWriter wav(path, kRate, 1000);
    const Status opened = wav.open();
    ASSERT_EQ(opened, Result::Ok) << opened.reason();
    std::vector<float> left(600, 0.5f);
    std::vector<float> right(600, -0.5f);
    const Outcome<std::size_t> first = wav.append(left.data(), right.data(), 600);
    ASSERT_TRUE(first) << first.reason();
    EXPECT_EQ(*first, 600u);
    EXPECT_FALSE(wav.full());
    const Outcome<std::size_t> second = wav.append(left.data(), right.data(), 600);
    ASSERT_TRUE(second) << second.reason();
    EXPECT_EQ(*second, 400u) << "only what fits";
    EXPECT_TRUE(wav.full());
    // The silence after the end is cut: 900 frames are kept.
    const Status finished = wav.finish(900);
    ASSERT_EQ(finished, Result::Ok) << finished.reason();

    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 44 + 900 * 4);
    auto le32 = [&bytes](int at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | std::uint8_t(bytes[at + i]);
        return v;
    };
    EXPECT_EQ(bytes.left(4), "RIFF");
    EXPECT_EQ(le32(4), 36u + 900 * 4);
    EXPECT_EQ(bytes.mid(36, 4), "data");
    EXPECT_EQ(le32(40), 900u * 4);
    EXPECT_EQ(le32(24), std::uint32_t(kRate));
    EXPECT_EQ(std::int16_t(std::uint8_t(bytes[44]) | std::uint8_t(bytes[45]) << 8), 16384);
}

TEST(PortManager, ListsAndMakesPortsFromItsBackendTable)
{
    const auto backends = portBackends();
    ASSERT_EQ(backends.size(), 3u);
    EXPECT_STREQ(backends[0].name, "synthesizer");
    EXPECT_STREQ(backends[1].name, "alsa");
    EXPECT_STREQ(backends[2].name, "recorder");

    PortManager::Options options;
    options.alsa = false; // this machine's ALSA ports, if any, are not the test's
    options.synthOutput = SynthOutput::Offline;
    PortManager ports(options);
    PortCaps caps;
    ASSERT_EQ(ports.enumPort(0, caps), Result::Ok);
    EXPECT_EQ(caps.id, ports.defaultPort());
    EXPECT_EQ(caps.id, SynthPort::kId);
    EXPECT_EQ(ports.enumPort(1, caps), Result::NothingFound);
    auto port = ports.createPort(SynthPort::kId, {});
    ASSERT_NE(dynamic_cast<SynthPort*>(port.get()), nullptr);
    EXPECT_EQ(ports.createPort("alsa:Nobody:nothing", {}), nullptr);

    // Recording ports are listed last, and only where the options ask for them.
    PortCaps recorder;
    recorder.id = "test:recorder";
    recorder.description = "Recorder";
    recorder.reverb = true;
    options.recordingPorts = {recorder};
    PortManager withRecorder(options);
    ASSERT_EQ(withRecorder.enumPort(0, caps), Result::Ok);
    ASSERT_EQ(withRecorder.enumPort(1, caps), Result::Ok);
    EXPECT_EQ(caps.description, "Recorder");
    EXPECT_EQ(withRecorder.enumPort(2, caps), Result::NothingFound);
    auto made = withRecorder.createPort("test:recorder", PortParams{true});
    auto* recording = dynamic_cast<RecordingPort*>(made.get());
    ASSERT_NE(recording, nullptr);
    EXPECT_EQ(recording->caps().id, "test:recorder");
    EXPECT_TRUE(recording->reverbOn()) << "made with the reverb asked for";
}
