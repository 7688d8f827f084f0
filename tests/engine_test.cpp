// The transport's operations in the order the main window calls them, on a
// recording port and the offline clock, observed through its signals.
#include "midibytes.h"
#include "profile.h"
#include "recordingport.h"
#include "synthesizer.h"
#include "transport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace midibytes;
using music::RecordingPort;

namespace {

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
        ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("a.mid")), fourBeats(1)));
        ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("b.mid")), fourBeats(2)));
        CTransport::Options options;
        options.clock = music::Performance::Clock::Offline;
        options.ports.alsa = false;
        options.ports.synthOutput = music::SynthOutput::Offline;
        // Two recording ports after the synthesizer.
        for (bool dls : {true, false}) {
            music::PortCaps caps;
            caps.id = dls ? "test:dls" : "test:plain";
            caps.description = dls ? "Recorder with instruments" : "Plain recorder";
            caps.downloadsInstruments = dls;
            caps.reverb = dls;
            options.ports.recordingPorts.push_back(caps);
        }
        options.wait = [this](std::chrono::milliseconds delay) {
            waits.push_back(delay);
        };
        transport = std::make_unique<CTransport>(profile, options);
        ASSERT_TRUE(transport->InitDirectMusic());
        transport->SetPortReverbRequest(true);
        transport->EnumPorts();
    }
    void TearDown() override { transport.reset(); }

    static bool writeBytes(const QString& path, const Bytes& bytes)
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
    int entryOf(const std::string& description) const
    {
        const auto& ports = transport->Ports();
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (ports[i]->description == description)
                return int(i);
        }
        return -1;
    }

    void usePort(const char* description)
    {
        ASSERT_TRUE(transport->CreateAndAddPort(entryOf(description)));
        recorder = dynamic_cast<RecordingPort*>(transport->GetPort());
        ASSERT_NE(recorder, nullptr);
    }
    // Moves the recorder's clock in small steps, as time passes while playing.
    void runTo(std::int64_t until)
    {
        for (std::int64_t t = recorder->now(); t < until; t = std::min(until, t + 10000)) {
            transport->GetPerformance()->pump();
            recorder->setNow(std::min(until, t + 10000));
        }
        transport->GetPerformance()->pump();
    }
    // Takes every queued notification as the transport does on the
    // notification thread's word, then handles the end of a piece it posted.
    void deliverNotifications()
    {
        while (transport->GetNotifyEvent()->size() > 0)
            transport->OnPlayNotify();
        QCoreApplication::sendPostedEvents(transport.get(), WM_SEGMENT_END);
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
    // The play states the transport announced, in order.
    static std::vector<int> states(const QSignalSpy& spy)
    {
        std::vector<int> out;
        for (const QList<QVariant>& arguments : spy)
            out.push_back(arguments.at(0).toInt());
        return out;
    }

    QTemporaryDir dir;
    framework::Profile profile; // no file: every setting reads its default
    std::unique_ptr<CTransport> transport;
    RecordingPort* recorder = nullptr;
    std::vector<std::chrono::milliseconds> waits;
};

} // namespace

TEST_F(EngineTest, ListsTheSynthesizerFirstAsTheDefaultAndMakesTheChosenPort)
{
    QSignalSpy ports(transport.get(), &CTransport::portChanged);
    ASSERT_GE(transport->Ports().size(), 3u);
    EXPECT_EQ(transport->Ports()[0]->id, "brisolde:synthesizer");
    EXPECT_EQ(transport->DefaultPortEntry(), 0);
    EXPECT_EQ(transport->GetDeviceIndex(), 0);
    usePort("Plain recorder");
    EXPECT_EQ(transport->GetPortCaps()->id, "test:plain");
    EXPECT_FALSE(transport->GetPortCaps()->reverb) << "a port without reverb: the item greys";
    EXPECT_FALSE(transport->SetPortReverb(true));
    transport->ReleasePort();
    usePort("Recorder with instruments");
    EXPECT_TRUE(transport->SetPortReverb(false));
    EXPECT_FALSE(recorder->reverbOn());
    ASSERT_EQ(ports.count(), 3);
    EXPECT_EQ(ports.at(0).at(0).toString(), QStringLiteral("Plain recorder"));
    EXPECT_EQ(ports.at(1).at(0).toString(), QString()) << "released";
    EXPECT_EQ(ports.at(2).at(0).toString(), QStringLiteral("Recorder with instruments"));

    EXPECT_FALSE(transport->CreateAndAddPort(-1)) << "no selection, no port";
    EXPECT_EQ(ports.count(), 3);
}

TEST_F(EngineTest, PausePlayResumesAndStopRewinds)
{
    usePort("Recorder with instruments");
    QSignalSpy state(transport.get(), &CTransport::stateChanged);
    QSignalSpy position(transport.get(), &CTransport::positionChanged);
    QSignalSpy ended(transport.get(), &CTransport::pieceEnded);
    ASSERT_EQ(transport->LoadMidiFile(path("a.mid")), 0);
    transport->PlayMidi();
    EXPECT_EQ(states(state), (std::vector<int>{PLAY_STOPPED, PLAY_PLAYING}));
    EXPECT_TRUE(transport->IsPositionTimerRunning());
    EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>{kPlayDelay}) << "Play waits first";
    EXPECT_EQ(recorder->downloads(), 1);

    runTo(600000);
    transport->UpdatePosition();
    ASSERT_EQ(position.count(), 1);
    EXPECT_EQ(position.at(0), (QList<QVariant>{921, 3072}));
    transport->PauseMidi();
    EXPECT_EQ(states(state).back(), PLAY_PAUSED);
    EXPECT_EQ(transport->GetOffset(), 921);
    EXPECT_TRUE(transport->IsPositionTimerRunning()) << "the timer keeps running while paused";
    runTo(900000);
    transport->UpdatePosition();
    EXPECT_EQ(position.count(), 1) << "a tick while paused leaves the position alone";

    transport->PlayMidi();
    EXPECT_EQ(recorder->unloads(), 1) << "every play unloads and downloads again";
    EXPECT_EQ(recorder->downloads(), 2);
    runTo(1300000); // the next beat after the pause, then 300 ms more
    transport->UpdatePosition();
    EXPECT_GT(position.last().at(0).toInt(), 921);
    transport->PauseMidi();
    EXPECT_GT(transport->GetOffset(), 921) << "pauses add up";
    const MUSIC_TIME second = transport->GetOffset();
    transport->PlayMidi();
    runTo(1700000);
    transport->UpdatePosition();
    EXPECT_GT(position.last().at(0).toInt(), second);

    transport->StopMidi();
    EXPECT_EQ(states(state),
              (std::vector<int>{PLAY_STOPPED, PLAY_PLAYING, PLAY_PAUSED, PLAY_PLAYING, PLAY_PAUSED,
                                PLAY_PLAYING, PLAY_STOPPED}));
    EXPECT_FALSE(transport->IsPositionTimerRunning());
    EXPECT_EQ(transport->GetOffset(), 0);
    EXPECT_EQ(transport->GetSegment()->startPoint(), 0);
    deliverNotifications();
    EXPECT_EQ(ended.count(), 0) << "stopping and pausing end no piece";
}

TEST_F(EngineTest, APieceThatPlaysToItsEndIsReportedOnce)
{
    usePort("Recorder with instruments");
    QSignalSpy ended(transport.get(), &CTransport::pieceEnded);
    transport->LoadMidiFile(path("a.mid"));
    transport->PlayMidi();
    runTo(2500000);
    deliverNotifications();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(notesPlayed(), (std::vector<int>{60, 64}));

    // The end of a playing that another one replaced before its end was
    // handled does not end the new one.
    transport->PlayMidi(); // starts at once, on the beat at 2.5 s, and ends at 4.5 s
    runTo(4600000);
    ASSERT_GT(transport->GetNotifyEvent()->size(), 0u);
    transport->PlayMidi(); // a new playing while the old one's end is still queued
    deliverNotifications();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(transport->GetPlayState(), PLAY_PLAYING);
}

TEST_F(EngineTest, LoadingAnotherFileStopsUnloadsAndResets)
{
    usePort("Recorder with instruments");
    QSignalSpy loaded(transport.get(), &CTransport::pieceLoaded);
    QSignalSpy state(transport.get(), &CTransport::stateChanged);
    ASSERT_EQ(transport->LoadMidiFile(path("a.mid")), 0);
    auto gmResets = [this] {
        int n = 0;
        for (const auto& r : recorder->received())
            n += r.bytes == Bytes(std::begin(kGmSystemOn), std::end(kGmSystemOn));
        return n;
    };
    EXPECT_EQ(gmResets(), 0) << "no reset when nothing was loaded before";
    transport->PlayMidi();
    runTo(300000);
    state.clear();
    ASSERT_EQ(transport->LoadMidiFile(path("b.mid")), 0);
    EXPECT_EQ(states(state), (std::vector<int>{PLAY_NONE, PLAY_STOPPED}));
    EXPECT_FALSE(transport->IsDownloaded());
    EXPECT_EQ(recorder->unloads(), 1);
    EXPECT_EQ(gmResets(), 1);
    const auto received = recorder->received();
    EXPECT_EQ(received.back().bytes, Bytes(std::begin(kGmSystemOn), std::end(kGmSystemOn)));

    state.clear();
    EXPECT_NE(transport->LoadMidiFile(path("missing.mid")), 0);
    ASSERT_EQ(loaded.count(), 3);
    EXPECT_EQ(loaded.at(1), (QList<QVariant>{QString::fromStdString(path("b.mid")), QString()}));
    EXPECT_EQ(loaded.at(2).at(0).toString(), QString::fromStdString(path("missing.mid")));
    EXPECT_FALSE(loaded.at(2).at(1).toString().isEmpty()) << "the reason it did not load";
    EXPECT_EQ(transport->GetSegment(), nullptr) << "the previous piece is unloaded all the same";
    EXPECT_EQ(states(state), std::vector<int>{PLAY_NONE});
    transport->PlayMidi();
    EXPECT_NE(transport->GetPlayState(), PLAY_PLAYING);
}

TEST_F(EngineTest, GmResetOffSendsNoResetOnAChangeOfFile)
{
    ASSERT_TRUE(profile.filePath().isEmpty());
    const QString file = dir.filePath(QStringLiteral("profile.ini"));
    profile = framework::Profile(file);
    ASSERT_TRUE(profile.writeInt("Settings", "GM Reset", 0));
    usePort("Recorder with instruments");
    ASSERT_EQ(transport->LoadMidiFile(path("a.mid")), 0);
    ASSERT_EQ(transport->LoadMidiFile(path("b.mid")), 0);
    for (const auto& r : recorder->received())
        EXPECT_NE(r.bytes, Bytes(std::begin(kGmSystemOn), std::end(kGmSystemOn)));
}

TEST_F(EngineTest, APlainPortDoesNotResumeASegmentMarkedOnAnInstrumentPort)
{
    usePort("Recorder with instruments");
    transport->LoadMidiFile(path("a.mid"));
    transport->PlayMidi();
    runTo(400000);
    transport->PauseMidi();
    transport->ReleasePort();
    usePort("Plain recorder");
    QSignalSpy state(transport.get(), &CTransport::stateChanged);
    transport->PlayMidi();
    EXPECT_EQ(state.count(), 0) << "from the paused state it does nothing";
    transport->StopMidi();
    transport->PlayMidi();
    EXPECT_EQ(states(state), (std::vector<int>{PLAY_STOPPED, PLAY_PLAYING}))
        << "from the stopped state it plays";
}

TEST_F(EngineTest, APauseBeforeTheFirstBeatKeepsTheResumePointInThePiece)
{
    usePort("Recorder with instruments");
    recorder->setNow(100000); // the piece starts at the next beat, at 500000
    transport->LoadMidiFile(path("a.mid"));
    transport->PlayMidi();
    runTo(200000);
    transport->PauseMidi();
    EXPECT_EQ(transport->GetOffset(), 0);
    EXPECT_EQ(transport->GetSegment()->startPoint(), 0);
}

// The notification thread's word reaches the transport through the event
// loop, one message per notification; the end of the piece is then announced.
TEST_F(EngineTest, TheNotificationThreadPostsToTheTransport)
{
    struct Counter : QObject
    {
        int posted = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            posted += e->type() == WM_PLAY_NOTIFY;
            return false;
        }
    } counter;
    transport->installEventFilter(&counter);
    usePort("Recorder with instruments");
    QSignalSpy ended(transport.get(), &CTransport::pieceEnded);
    transport->LoadMidiFile(path("a.mid"));
    transport->PlayMidi();
    runTo(2500000); // start and end of the playing
    EXPECT_TRUE(ended.wait(10000));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(transport->GetNotifyEvent()->size(), 0u);
    EXPECT_EQ(counter.posted, 2);
}

TEST_F(EngineTest, StopLeavesTheSynthesizerSilentWithinTheReleaseTime)
{
    // The built-in synthesizer, rendered offline: the first entry of the list.
    ASSERT_TRUE(transport->CreateAndAddPort(0));
    auto* synth = dynamic_cast<music::Synthesizer*>(transport->GetPort());
    ASSERT_NE(synth, nullptr);
    ASSERT_EQ(transport->LoadMidiFile(BRISOLDE_DEMO_FILE), 0) << transport->LastLoadError();
    transport->PlayMidi();
    ASSERT_EQ(transport->GetPlayState(), PLAY_PLAYING);

    const int rate = synth->sampleRate();
    std::vector<float> left(512);
    std::vector<float> right(512);
    auto renderSeconds = [&](double seconds) {
        float peak = 0;
        for (int done = 0; done < int(seconds * rate); done += 512) {
            transport->GetPerformance()->pump();
            synth->renderOffline(left.data(), right.data(), 512);
            for (int i = 0; i < 512; ++i)
                peak = std::max(
                    {peak, std::fabs(left[std::size_t(i)]), std::fabs(right[std::size_t(i)])});
        }
        return peak;
    };
    EXPECT_GT(renderSeconds(4.0), 0.02f) << "the demo sounds";
    transport->StopMidi();
    renderSeconds(2.0); // the instruments' release
    EXPECT_LT(renderSeconds(2.0), 1e-4f) << "then nothing sounds";

    // Pause silences too, and Play goes on from there with the right instruments.
    transport->PlayMidi();
    EXPECT_GT(renderSeconds(2.0), 0.02f);
    transport->PauseMidi();
    renderSeconds(2.0);
    EXPECT_LT(renderSeconds(1.0), 1e-4f);
    transport->PlayMidi();
    EXPECT_GT(renderSeconds(2.0), 0.02f);
}
