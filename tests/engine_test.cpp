// The engine's operations in the order the main window calls them, on a
// recording port and the offline clock.
#include "engine.h"
#include "enginewindow.h"
#include "internal/recordingport.h"
#include "internal/synthport.h"
#include "midibytes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace midibytes;
using music::internal::RecordingPort;

namespace {

using Window = FakeEngineWindow;

Bytes fourBeats(int program)
{
    return cat(
        {header(0, 1, 96), track(cat({{0x00, 0xC0, std::uint8_t(program), 0x00, 0x90, 60, 100},
                                      {0x81, 0x40, 0x80, 60, 0}, // two beats later
                                      {0x00, 0x90, 64, 100},
                                      {0x81, 0x40, 0x80, 64, 0},
                                      endOfTrack(0)}))});
}

class EngineTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(testsupport_writeFile(dir.filePath(QStringLiteral("a.mid")), fourBeats(1)));
        ASSERT_TRUE(testsupport_writeFile(dir.filePath(QStringLiteral("b.mid")), fourBeats(2)));
        EngineOptions options;
        options.clock = music::Performance::Clock::Offline;
        options.ports.alsa = false;
        options.ports.synthOutput = music::SynthOutput::Offline;
        options.preparePorts = [this](music::PortManager& ports) {
            for (bool dls : {true, false}) {
                music::PortCaps caps;
                caps.id = dls ? "test:dls" : "test:plain";
                caps.description = dls ? "Recorder with instruments" : "Plain recorder";
                caps.downloadsInstruments = dls;
                caps.reverb = dls;
                ports.addTestPort(caps, [this, dls] {
                    auto port = std::make_unique<RecordingPort>(dls, dls);
                    recorder = port.get();
                    return std::unique_ptr<music::Port>(std::move(port));
                });
            }
        };
        SetEngineOptions(options);
        ResetEngineVariables();
        ASSERT_TRUE(InitDirectMusic());
        g_bPortReverb = true;
        EnumPorts(window);
    }
    void TearDown() override
    {
        FreeDirectMusic();
        SetEngineOptions({});
    }

    static bool testsupport_writeFile(const QString& path, const Bytes& bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) &&
               file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
                   qint64(bytes.size());
    }
    std::string path(const char* name) const
    {
        return dir.filePath(QString::fromUtf8(name)).toStdString();
    }

    void usePort(const char* description)
    {
        window.selection = window.indexOf(description);
        ASSERT_TRUE(CreateAndAddPort(window));
        ASSERT_NE(recorder, nullptr);
    }
    // Moves the recorder's clock in small steps, as time passes while playing.
    void runTo(std::int64_t until)
    {
        for (std::int64_t t = recorder->now(); t < until; t = std::min(until, t + 10000)) {
            g_pPerformance->pump();
            recorder->setNow(std::min(until, t + 10000));
        }
        g_pPerformance->pump();
    }
    void deliverNotifications()
    {
        while (g_hNotifyEvent->size() > 0)
            OnPlayNotify(window);
    }
    std::vector<int> notesPlayed() const
    {
        std::vector<int> notes;
        for (const auto& r : recorder->received()) {
            if ((r.bytes[0] & 0xF0) == 0x90 && r.bytes[2] != 0)
                notes.push_back(r.bytes[1]);
        }
        return notes;
    }

    QTemporaryDir dir;
    Window window;
    RecordingPort* recorder = nullptr;
};

} // namespace

TEST_F(EngineTest, ListsTheSynthesizerFirstAsTheDefaultAndMakesTheChosenPort)
{
    ASSERT_GE(window.entries.size(), 3u);
    EXPECT_EQ(window.entries[0].second->id, "brisolde:synthesizer");
    EXPECT_EQ(window.selection, 0);
    EXPECT_EQ(g_nDeviceIndex, 0);
    usePort("Plain recorder");
    EXPECT_EQ(g_pPortCaps->id, "test:plain");
    EXPECT_FALSE(window.reverbEnabled) << "a port without reverb greys the item";
    EXPECT_FALSE(SetPortReverb(true));
    ReleasePort();
    usePort("Recorder with instruments");
    EXPECT_TRUE(window.reverbEnabled);
    EXPECT_TRUE(SetPortReverb(false));
    EXPECT_FALSE(recorder->reverbOn());

    window.selection = -1;
    EXPECT_FALSE(CreateAndAddPort(window)) << "no selection, no port";
}

TEST_F(EngineTest, PausePlayResumesAndStopRewinds)
{
    usePort("Recorder with instruments");
    ASSERT_EQ(LoadMidiFile(path("a.mid")), 0);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    PlayMidi(window);
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);
    EXPECT_TRUE(window.timer);
    EXPECT_EQ(window.delays, 1);
    EXPECT_EQ(recorder->downloads(), 1);

    runTo(600000);
    UpdatePosition();
    EXPECT_EQ(g_mtPosition, 921);
    EXPECT_EQ(g_mtLength, 3072);
    PauseMidi(window);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED);
    EXPECT_EQ(g_mtOffset, 921);
    EXPECT_TRUE(window.timer) << "the timer keeps running while paused";
    runTo(900000);
    const MUSIC_TIME shown = g_mtPosition;
    UpdatePosition();
    EXPECT_EQ(g_mtPosition, shown) << "a tick while paused leaves the position alone";

    PlayMidi(window);
    EXPECT_EQ(recorder->unloads(), 1) << "every play unloads and downloads again";
    EXPECT_EQ(recorder->downloads(), 2);
    runTo(1300000); // the next beat after the pause, then 300 ms more
    UpdatePosition();
    EXPECT_GT(g_mtPosition, 921);
    PauseMidi(window);
    EXPECT_GT(g_mtOffset, 921) << "pauses add up";
    const MUSIC_TIME second = g_mtOffset;
    PlayMidi(window);
    runTo(1700000);
    UpdatePosition();
    EXPECT_GT(g_mtPosition, second);

    StopMidi(window);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    EXPECT_FALSE(window.timer);
    EXPECT_EQ(g_mtOffset, 0);
    EXPECT_EQ(g_pSegment->startPoint(), 0);
    EXPECT_EQ(window.segmentEnds, 0);
    deliverNotifications();
    EXPECT_EQ(window.segmentEnds, 0) << "stopping and pausing end no piece";
}

TEST_F(EngineTest, APieceThatPlaysToItsEndIsReportedOnce)
{
    usePort("Recorder with instruments");
    LoadMidiFile(path("a.mid"));
    PlayMidi(window);
    runTo(2500000);
    deliverNotifications();
    EXPECT_EQ(window.segmentEnds, 1);
    EXPECT_EQ(notesPlayed(), (std::vector<int>{60, 64}));

    // The end of a playing that another one replaced before its end was
    // handled does not end the new one.
    PlayMidi(window); // starts at once, on the beat at 2.5 s, and ends at 4.5 s
    runTo(4600000);
    ASSERT_GT(g_hNotifyEvent->size(), 0u);
    PlayMidi(window); // a new playing while the old one's end is still queued
    deliverNotifications();
    EXPECT_EQ(window.segmentEnds, 1);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING);
}

TEST_F(EngineTest, LoadingAnotherFileStopsUnloadsAndResets)
{
    usePort("Recorder with instruments");
    ASSERT_EQ(LoadMidiFile(path("a.mid")), 0);
    auto gmResets = [this] {
        int n = 0;
        for (const auto& r : recorder->received())
            n += r.bytes == Bytes(std::begin(kGmSystemOn), std::end(kGmSystemOn));
        return n;
    };
    EXPECT_EQ(gmResets(), 0) << "no reset when nothing was loaded before";
    PlayMidi(window);
    runTo(300000);
    ASSERT_EQ(LoadMidiFile(path("b.mid")), 0);
    EXPECT_EQ(g_nPlayState, PLAY_STOPPED);
    EXPECT_FALSE(g_bDownloaded);
    EXPECT_EQ(recorder->unloads(), 1);
    EXPECT_EQ(gmResets(), 1);
    const auto received = recorder->received();
    EXPECT_EQ(received.back().bytes, Bytes(std::begin(kGmSystemOn), std::end(kGmSystemOn)));

    EXPECT_NE(LoadMidiFile(path("missing.mid")), 0);
    EXPECT_FALSE(LastLoadError().empty());
    EXPECT_EQ(g_pSegment, nullptr) << "the previous piece is unloaded all the same";
    EXPECT_EQ(g_nPlayState, PLAY_NONE);
    PlayMidi(window);
    EXPECT_NE(g_nPlayState, PLAY_PLAYING);
}

TEST_F(EngineTest, APlainPortDoesNotResumeASegmentMarkedOnAnInstrumentPort)
{
    usePort("Recorder with instruments");
    LoadMidiFile(path("a.mid"));
    PlayMidi(window);
    runTo(400000);
    PauseMidi(window);
    ReleasePort();
    usePort("Plain recorder");
    PlayMidi(window);
    EXPECT_EQ(g_nPlayState, PLAY_PAUSED) << "from the paused state it does nothing";
    StopMidi(window);
    PlayMidi(window);
    EXPECT_EQ(g_nPlayState, PLAY_PLAYING) << "from the stopped state it plays";
}

TEST_F(EngineTest, APauseBeforeTheFirstBeatKeepsTheResumePointInThePiece)
{
    usePort("Recorder with instruments");
    recorder->setNow(100000); // the piece starts at the next beat, at 500000
    LoadMidiFile(path("a.mid"));
    PlayMidi(window);
    runTo(200000);
    PauseMidi(window);
    EXPECT_EQ(g_mtOffset, 0);
    EXPECT_EQ(g_pSegment->startPoint(), 0);
}

TEST_F(EngineTest, TheNotificationThreadPostsToTheMainWindow)
{
    struct Target : QObject
    {
        int posted = 0;
        bool event(QEvent* e) override
        {
            if (e->type() == WM_PLAY_NOTIFY)
                ++posted;
            return QObject::event(e);
        }
    } target;
    SetPlayNotifyWindow(&target);
    g_hNotifyEvent->post({music::NotificationType::Segment, music::SegmentOption::Start, 0, 0});
    g_hNotifyEvent->post({music::NotificationType::Segment, music::SegmentOption::End, 0, 0});
    QElapsedTimer timer;
    timer.start();
    while (target.posted < 2 && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    SetPlayNotifyWindow(nullptr);
    EXPECT_EQ(target.posted, 2) << "one message per notification";
}

TEST_F(EngineTest, StopLeavesTheSynthesizerSilentWithinTheReleaseTime)
{
    // The built-in synthesizer, rendered offline: the first entry of the list.
    window.selection = 0;
    ASSERT_TRUE(CreateAndAddPort(window));
    auto* synth = dynamic_cast<music::internal::SynthPort*>(g_pPort);
    ASSERT_NE(synth, nullptr);
    ASSERT_EQ(LoadMidiFile(BRISOLDE_DEMO_FILE), 0) << LastLoadError();
    PlayMidi(window);
    ASSERT_EQ(g_nPlayState, PLAY_PLAYING);

    const int rate = synth->sampleRate();
    std::vector<float> left(512);
    std::vector<float> right(512);
    auto renderSeconds = [&](double seconds) {
        float peak = 0;
        for (int done = 0; done < int(seconds * rate); done += 512) {
            g_pPerformance->pump();
            synth->renderOffline(left.data(), right.data(), 512);
            for (int i = 0; i < 512; ++i)
                peak = std::max(
                    {peak, std::fabs(left[std::size_t(i)]), std::fabs(right[std::size_t(i)])});
        }
        return peak;
    };
    EXPECT_GT(renderSeconds(4.0), 0.02f) << "the demo sounds";
    StopMidi(window);
    renderSeconds(2.0); // the instruments' release
    EXPECT_LT(renderSeconds(2.0), 1e-4f) << "then nothing sounds";

    // Pause silences too, and Play goes on from there with the right instruments.
    PlayMidi(window);
    EXPECT_GT(renderSeconds(2.0), 0.02f);
    PauseMidi(window);
    renderSeconds(2.0);
    EXPECT_LT(renderSeconds(1.0), 1e-4f);
    PlayMidi(window);
    EXPECT_GT(renderSeconds(2.0), 0.02f);
}
