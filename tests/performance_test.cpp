// The performance driven through its own operations on the offline clock:
// the recorder's clock is moved by the test, so nothing here waits or depends
// on the machine's speed.
#include "internal/alsaport.h"
#include "internal/synthport.h"
#include "midibytes.h"
#include "notificationqueue.h"
#include "performance.h"
#include "recordingport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <thread>

using namespace midibytes;
using namespace music;
using music::RecordingPort;

namespace {

using Received = RecordingPort::Received;

// One track at 96 ticks per quarter: program 5, notes at beats 0, 1 and 2,
// each a quarter long; the piece is four beats long.
Bytes threeNotes(std::uint32_t tempoUs = 500000)
{
    return cat(
        {header(0, 1, 96), track(cat({tempo(0, tempoUs),
                                      {0x00, 0xC0, 0x05, 0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0},
                                      {0x00, 0x90, 62, 100, 0x60, 0x80, 62, 0},
                                      {0x00, 0x90, 64, 100, 0x60, 0x80, 64, 0},
                                      endOfTrack(96)}))});
}

struct Rig
{
    RecordingPort port;
    NotificationQueue notifications;
    Performance performance{Performance::Clock::Offline};

    Rig()
    {
        performance.Init();
        performance.SetNotificationHandle(&notifications);
        performance.AddNotificationType(NotificationType::Segment);
        port.activate(true);
        performance.AddPort(&port);
    }

    // Moves the clock to `until` in steps, handing messages over as the
    // scheduler would.
    void runTo(std::int64_t until, std::int64_t step = 10000)
    {
        for (std::int64_t t = port.now(); t < until; t = std::min(until, t + step)) {
            performance.pump();
            port.setNow(std::min(until, t + step));
        }
        performance.pump();
    }

    std::vector<Notification> takeAll()
    {
        std::vector<Notification> all;
        Notification n;
        while (performance.GetNotificationPMsg(n) == Result::Ok)
            all.push_back(n);
        return all;
    }

    std::vector<Received> noteOns() const
    {
        std::vector<Received> ons;
        for (const Received& r : port.received()) {
            if ((r.bytes[0] & 0xF0) == 0x90 && r.bytes[2] != 0)
                ons.push_back(r);
        }
        return ons;
    }
};

std::shared_ptr<Segment> segmentOf(const Bytes& bytes)
{
    LoadResult result = music::load(bytes);
    EXPECT_TRUE(result) << result.reason();
    return result ? result.value() : nullptr;
}

} // namespace

TEST(Performance, StartsAtTheNextBeatAndPlaysAtTheTempoMapsTimes)
{
    Rig rig;
    rig.port.setNow(100000); // music time 153 at 120 beats per minute
    auto segment = segmentOf(threeNotes(250000));
    std::shared_ptr<SegmentState> state;
    ASSERT_EQ(rig.performance.PlaySegment(segment, Performance::kStartAtBeat, &state), Result::Ok);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->GetStartTime(), 768);

    // Before the beat nothing plays yet.
    std::shared_ptr<SegmentState> found;
    MusicTime now = 0;
    ASSERT_EQ(rig.performance.GetTime(now), Result::Ok);
    EXPECT_EQ(rig.performance.GetSegmentState(found, now), Result::NothingFound);

    rig.runTo(3000000);
    const auto ons = rig.noteOns();
    ASSERT_EQ(ons.size(), 3u);
    // The beat at music time 768 falls at 500000 us; then a quarter is 250000 us.
    EXPECT_EQ(ons[0].time, 500000);
    EXPECT_EQ(ons[1].time, 750000);
    EXPECT_EQ(ons[2].time, 1000000);
    EXPECT_EQ(rig.port.received().front().bytes, (Bytes{0xC0, 0x05}));
}

TEST(Performance, TheClockFollowsThePieceAndTheInstanceEndsOnce)
{
    Rig rig;
    auto segment = segmentOf(threeNotes(250000));
    std::shared_ptr<SegmentState> state;
    ASSERT_EQ(rig.performance.PlaySegment(segment, Performance::kStartAtBeat, &state), Result::Ok);
    EXPECT_EQ(state->GetStartTime(), 0);

    rig.runTo(375000); // a beat and a half at 240 beats per minute
    MusicTime now = 0;
    rig.performance.GetTime(now);
    EXPECT_EQ(now, 1152);
    std::shared_ptr<SegmentState> found;
    ASSERT_EQ(rig.performance.GetSegmentState(found, now), Result::Ok);
    EXPECT_EQ(found, state);
    MusicTime seek = 0;
    state->GetSeek(seek);
    EXPECT_EQ(seek, 1152);

    rig.runTo(2000000);
    const auto notes = rig.takeAll();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].option, SegmentOption::Start);
    EXPECT_EQ(notes[1].option, SegmentOption::End);
    EXPECT_EQ(notes[1].instance, state->id());
    EXPECT_EQ(notes[1].time, 1000000) << "four beats at 240 beats per minute";
    rig.performance.GetTime(now);
    EXPECT_EQ(rig.performance.GetSegmentState(found, now), Result::NothingFound);
    state->GetSeek(seek);
    EXPECT_EQ(seek, segment->length());
    // After the end the clock goes on at 120 beats per minute.
    EXPECT_EQ(now, 3072 + (2000000 - 1000000) * 768 / 500000);
}

TEST(Performance, StopDropsWhatIsQueuedSilencesAndDoesNotReportAnEnd)
{
    Rig rig;
    auto segment = segmentOf(threeNotes());
    std::shared_ptr<SegmentState> state;
    rig.performance.PlaySegment(segment, 0, &state);
    rig.runTo(600000); // the second note has started
    const std::size_t before = rig.port.received().size();
    ASSERT_EQ(rig.performance.Stop(), Result::Ok);
    rig.runTo(3000000);
    const auto after = rig.port.received();
    ASSERT_EQ(after.size(), before + 48);
    for (std::size_t i = before; i < after.size(); ++i)
        EXPECT_EQ(after[i].bytes[0] & 0xF0, 0xB0) << "only the silencing messages follow";
    const auto notes = rig.takeAll();
    ASSERT_FALSE(notes.empty());
    EXPECT_NE(notes.back().option, SegmentOption::End);
    MusicTime seek = 0;
    state->GetSeek(seek);
    EXPECT_EQ(seek, 921) << "where it stopped: 600000 us at 120 beats per minute";
}

TEST(Performance, AStartInsideThePieceSendsTheStateInForceFirst)
{
    Rig rig;
    const Bytes file = cat(
        {header(0, 1, 96), track(cat({{0x00, 0xB0, 0x00, 0x01}, // bank 1
                                      {0x00, 0xC0, 0x30},       // strings
                                      {0x00, 0xB0, 0x65, 0x00, 0x00, 0x64, 0x00, 0x00, 0x06, 0x0C},
                                      {0x00, 0xB0, 0x07, 0x50}, // volume
                                      {0x00, 0x90, 60, 100},
                                      {0x30, 0xE0, 0x00, 0x50}, // bend up
                                      {0x30, 0xB0, 0x07, 0x60, 0x00, 0x80, 60, 0},
                                      {0x00, 0x90, 67, 90},
                                      {0x60, 0x80, 67, 0},
                                      endOfTrack(0)}))});
    auto segment = segmentOf(file);
    ASSERT_TRUE(segment->setStartPoint(768));
    EXPECT_FALSE(segment->setStartPoint(segment->length() + 1));
    EXPECT_EQ(segment->startPoint(), 768);
    std::shared_ptr<SegmentState> state;
    rig.performance.PlaySegment(segment, 0, &state);
    rig.runTo(1000000);
    std::vector<Bytes> got;
    for (const Received& r : rig.port.received())
        got.push_back(r.bytes);
    // The state before the start point, then what happens from it on.
    const std::vector<Bytes> expected{{0xB0, 0x00, 0x01}, {0xB0, 0x65, 0x00}, {0xB0, 0x64, 0x00},
                                      {0xB0, 0x06, 0x0C}, {0xB0, 0x07, 0x50}, {0xC0, 0x30},
                                      {0xE0, 0x00, 0x50}, {0xB0, 0x07, 0x60}, {0x80, 60, 0},
                                      {0x90, 67, 90},     {0x80, 67, 0}};
    EXPECT_EQ(got, expected);
    MusicTime seek = 0;
    rig.runTo(1100000);
    state->GetSeek(seek);
    EXPECT_EQ(seek, segment->length());
}

TEST(Performance, APortThatGoesAwayEndsThePlayingWithoutAnEnd)
{
    RecordingPort other; // outlives the performance that will use it
    Rig rig;
    auto segment = segmentOf(threeNotes());
    std::shared_ptr<SegmentState> state;
    rig.performance.PlaySegment(segment, 0, &state);
    rig.runTo(200000);
    rig.port.disappear();
    rig.runTo(3000000);
    MusicTime now = 0;
    rig.performance.GetTime(now);
    std::shared_ptr<SegmentState> found;
    EXPECT_EQ(rig.performance.GetSegmentState(found, now), Result::NothingFound);
    const auto notes = rig.takeAll();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().option, SegmentOption::Abort);

    // Another port takes over.
    other.activate(true);
    ASSERT_EQ(rig.performance.RemovePort(&rig.port), Result::Ok);
    ASSERT_EQ(rig.performance.AddPort(&other), Result::Ok);
    ASSERT_EQ(rig.performance.SendSysEx(Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), Result::Ok);
    ASSERT_EQ(other.received().size(), 1u);
    EXPECT_EQ(other.received()[0].bytes, (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
}

namespace {

// A dense piece: `tracks` tracks of `notes` notes each, a note every tick
// and a tick long, at 960 ticks per quarter and 120 beats per minute: each
// track plays 1920 notes a second.
Bytes denseFile(int tracks, int notes)
{
    Bytes file = header(1, tracks, 960);
    for (int t = 0; t < tracks; ++t) {
        const auto channel = std::uint8_t(t % 16);
        Bytes events;
        for (int n = 0; n < notes; ++n) {
            const auto key = std::uint8_t(36 + (t * 7 + n) % 60);
            events.insert(events.end(), {std::uint8_t(n == 0 ? 0 : 1), std::uint8_t(0x90 | channel),
                                         key, 100, 0x00, std::uint8_t(0x80 | channel), key, 0});
        }
        file = cat({file, track(cat({events, endOfTrack(0)}))});
    }
    return file;
}

// Note ons (velocity above 0) and note offs in `messages`.
template <typename Messages> std::pair<std::size_t, std::size_t> notesIn(const Messages& messages)
{
    std::size_t ons = 0;
    std::size_t offs = 0;
    for (const auto& m : messages) {
        const int kind = m.bytes[0] & 0xF0;
        if (kind == 0x90 && m.bytes[2] != 0)
            ++ons;
        else if (kind == 0x80 || kind == 0x90)
            ++offs;
    }
    return {ons, offs};
}

// An ALSA sequencer whose queue in the kernel holds at most `pool` events;
// events whose time has come leave it.
struct SmallQueueSequencer : music::internal::SequencerBackend
{
    struct Message
    {
        std::int64_t time;
        std::vector<std::uint8_t> bytes;
    };
    std::size_t pool = 0;
    std::int64_t time = 0;
    std::vector<Message> sent;
    std::deque<std::int64_t> waiting; // times of the events still in the queue
    std::size_t fullRefusals = 0;

    std::vector<music::internal::SequencerPortInfo> ports() override { return {}; }
    bool portExists(int, int) override { return true; }
    bool startQueue() override { return true; }
    std::int64_t queueTime() override { return time; }
    music::internal::Sent sendAt(int, int, std::int64_t t, std::span<const std::uint8_t> m) override
    {
        while (!waiting.empty() && waiting.front() <= time)
            waiting.pop_front();
        if (waiting.size() >= pool) {
            ++fullRefusals;
            return music::internal::Sent::Full;
        }
        waiting.push_back(t);
        sent.push_back({t, {m.begin(), m.end()}});
        return music::internal::Sent::Yes;
    }
    music::internal::Sent sendDirect(int, int, std::span<const std::uint8_t>) override
    {
        return music::internal::Sent::Yes;
    }
    void dropQueued() override {}
};

// Plays `segment` on `port` with the offline clock, calling `advance` after
// each pass, until the playing has ended.
void playToTheEnd(Port& port, const std::shared_ptr<Segment>& segment,
                  const std::function<void()>& advance)
{
    NotificationQueue notifications;
    Performance performance(Performance::Clock::Offline);
    performance.Init();
    performance.SetNotificationHandle(&notifications);
    performance.AddNotificationType(NotificationType::Segment);
    port.activate(true);
    performance.AddPort(&port);
    ASSERT_EQ(performance.PlaySegment(segment, 0, nullptr), Result::Ok);
    for (bool ended = false; !ended;) {
        performance.pump();
        advance();
        while (auto n = notifications.take())
            ended |= n->option == SegmentOption::End;
    }
    performance.CloseDown();
}

} // namespace

TEST(Performance, AFullQueueHoldsTheSchedulerBackAndEveryNoteArrives)
{
    // 64 tracks: 123,000 notes a second, more than a port's queue holds
    // within the lookahead.
    constexpr int kTracks = 64;
    constexpr int kNotes = 300;
    constexpr std::size_t kAll = std::size_t(kTracks) * kNotes;
    auto segment = segmentOf(denseFile(kTracks, kNotes));

    {
        SCOPED_TRACE("recorder");
        RecordingPort port;
        port.setQueueLimit(100);
        std::int64_t now = 0;
        playToTheEnd(port, segment, [&] { port.setNow(now += 1000); });
        const auto received = port.received();
        EXPECT_EQ(notesIn(received), std::make_pair(kAll, kAll));
        // In the order of the piece: each note's off follows its on.
        EXPECT_TRUE(
            std::is_sorted(received.begin(), received.end(),
                           [](const Received& a, const Received& b) { return a.time < b.time; }));
    }
    {
        SCOPED_TRACE("ALSA port");
        auto sequencer = std::make_unique<SmallQueueSequencer>();
        SmallQueueSequencer* seq = sequencer.get();
        seq->pool = 500;
        music::internal::AlsaPort port(std::move(sequencer), {128, 0, "Synth", "in", true});
        playToTheEnd(port, segment, [seq] { seq->time += 1000; });
        EXPECT_GT(seq->fullRefusals, 0u);
        EXPECT_EQ(notesIn(seq->sent), std::make_pair(kAll, kAll));
    }
    {
        SCOPED_TRACE("synthesizer");
        music::internal::SynthOptions options;
        options.mode = music::internal::AudioMode::Offline;
        options.reverb = options.chorus = false;
        music::internal::SynthPort port(options);
        std::vector<float> left(512);
        std::vector<float> right(512);
        playToTheEnd(port, segment,
                     [&] { port.renderOffline(left.data(), right.data(), int(left.size())); });
        EXPECT_EQ(port.counts().noteOns, kAll);
        EXPECT_EQ(port.counts().noteOffs, kAll);
    }
}

TEST(Performance, InRealTimeEveryNoteReachesTheSynthesizerOrIsCountedAsShed)
{
    // The same dense piece on the real scheduler thread and the silent sink.
    constexpr int kTracks = 64;
    constexpr int kNotes = 300;
    constexpr std::uint64_t kAll = std::uint64_t(kTracks) * kNotes;
    auto segment = segmentOf(denseFile(kTracks, kNotes));
    music::internal::SynthOptions options;
    options.mode = music::internal::AudioMode::SilentSink;
    music::internal::SynthPort port(options);
    ASSERT_EQ(port.activate(true), Result::Ok);
    NotificationQueue notifications;
    Performance performance(Performance::Clock::RealTime);
    performance.Init();
    performance.SetNotificationHandle(&notifications);
    performance.AddNotificationType(NotificationType::Segment);
    performance.AddPort(&port);
    ASSERT_EQ(performance.PlaySegment(segment, 0, nullptr), Result::Ok);
    while (notifications.wait()) {
        const auto n = notifications.take();
        if (n && n->option == SegmentOption::End)
            break;
    }
    // Everything has been handed over; the last of it reaches the synthesizer
    // as the sink plays on.
    for (int i = 0; i < 1000 && port.counts().noteOffs < kAll; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Where the machine could not keep up, note ons too short to be heard may
    // have been shed, counted; nothing else may be missing.
    const auto counts = port.counts();
    EXPECT_EQ(counts.noteOns + counts.shedNoteOns, kAll);
    EXPECT_EQ(counts.noteOffs, kAll);
    performance.CloseDown();
}
