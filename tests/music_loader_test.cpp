// The loader on well-formed files built in memory: formats, events, the merge
// order, exact timing, and the loader's cache.
#include "loader.h"
#include "midibytes.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <unistd.h>

using namespace midibytes;
using Lines = std::vector<std::string>;

TEST(MusicLoader, ReadsFormat0WithRunningStatusAndTwoByteMessages)
{
    const Bytes file =
        cat({header(0, 1, 96), track(cat({{0x00, 0xC0, 0x05, 0x00, 0x90, 0x3C, 0x64},
                                          {0x60, 0x3C, 0x00}, // running status
                                          {0x00, 0xE0, 0x00, 0x40, 0x00, 0xD0, 0x20, 0x00, 0x21},
                                          endOfTrack(96)}))});
    const music::LoadResult result = load(file);
    ASSERT_TRUE(result) << result.reason();
    const music::Segment& segment = *result.value();
    EXPECT_EQ(segment.format(), 0);
    EXPECT_EQ(segment.trackCount(), 1);
    EXPECT_EQ(segment.division(), 96);
    EXPECT_EQ(segment.length(), 1536);
    EXPECT_TRUE(segment.warnings().empty());
    EXPECT_EQ(lines(segment), (Lines{"0 0 0 C0 05", "0 0 0 90 3C 64", "768 500000 0 90 3C 00",
                                     "768 500000 0 E0 00 40", "768 500000 0 D0 20",
                                     "768 500000 0 D0 21", "1536 1000000 0 FF 2F"}));
    EXPECT_TRUE(segment.events()[1].isChannel());
    EXPECT_EQ(segment.events()[1].data1(), 0x3C);
    EXPECT_EQ(segment.events()[1].data2(), 0x64);
}

TEST(MusicLoader, MergesTracksByTimeThenTrackThenFileOrder)
{
    const Bytes file =
        cat({header(1, 3, 96),
             track(cat({tempo(0, 250000), {0x00, 0x90, 0x40, 0x40}, endOfTrack(192)})),
             track(cat({{0x00, 0x91, 0x30, 0x30, 0x60, 0x81, 0x30, 0x00}, endOfTrack(0)})),
             track(cat({{0x00, 0x92, 0x20, 0x20}, endOfTrack(96)}))});
    const music::LoadResult result = load(file);
    ASSERT_TRUE(result) << result.reason();
    EXPECT_EQ(result.value()->indexAt(0), 0u);
    EXPECT_EQ(result.value()->indexAt(1), 4u);
    EXPECT_EQ(result.value()->indexAt(768), 4u);
    EXPECT_EQ(result.value()->indexAt(769), 7u);
    EXPECT_EQ(result.value()->indexAt(1537), 8u);
    EXPECT_EQ(lines(*result.value()),
              (Lines{"0 0 0 FF 51 03 D0 90", "0 0 0 90 40 40", "0 0 1 91 30 30", "0 0 2 92 20 20",
                     "768 250000 1 81 30 00", "768 250000 1 FF 2F", "768 250000 2 FF 2F",
                     "1536 500000 0 FF 2F"}));
    // The length is the latest end of track, not the last event of the first track.
    EXPECT_EQ(result.value()->length(), 1536);
}

TEST(MusicLoader, MergesLongAndManyTracksInExactTimeOrderOnOneThreadAndOnTwo)
{
    struct Case
    {
        std::uint16_t division;
        int tracks;
        int eventsPerTrack;
    };
    // Long tracks are merged in rounds; past 255 tracks (127 at 960 per quarter,
    // where two ticks share a music tick) a track is no longer held in the event
    // itself; 2100 tracks at 29.97 fps and 255 ticks a frame.
    for (const Case c :
         {Case{96, 3, 3000}, Case{960, 40, 300}, Case{960, 300, 400}, Case{0xE3FF, 2100, 2}}) {
        std::mt19937 random(static_cast<std::mt19937::result_type>(c.tracks));
        Bytes file = header(1, c.tracks, c.division);
        struct Expected
        {
            std::uint64_t tick;
            int track;
            int order;
        };
        std::vector<Expected> expected;
        for (int t = 0; t < c.tracks; ++t) {
            Bytes events;
            std::uint64_t tick = 0;
            for (int i = 0; i < c.eventsPerTrack; ++i) {
                const auto delta =
                    static_cast<std::uint32_t>(random() % 3 == 0 ? 0 : random() % 50);
                tick += delta;
                // Now and then a SysEx message in two packets, whose event waits for
                // the second.
                const Bytes step =
                    i % 97 == 5
                        ? cat({varLen(delta), {0xF0, 0x02, 0x43, 0x10, 0x01, 0xF7, 0x01, 0xF7}})
                        : cat({varLen(delta), {0xC0, static_cast<std::uint8_t>(i % 128)}});
                events.insert(events.end(), step.begin(), step.end());
                expected.push_back({tick + (i % 97 == 5 ? 1 : 0), t, i});
                tick += i % 97 == 5 ? 1 : 0;
            }
            const Bytes chunk = track(cat({events, endOfTrack()}));
            file.insert(file.end(), chunk.begin(), chunk.end());
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [](const Expected& a, const Expected& b) { return a.tick < b.tick; });
        Lines first;
        for (unsigned threads : {1u, 2u}) {
            SCOPED_TRACE(testing::Message()
                         << c.division << " " << c.tracks << " tracks, " << threads << " threads");
            music::LoadOptions options;
            options.threads = threads;
            const music::LoadResult result =
                music::load(std::span<const std::uint8_t>(file.data(), file.size()), options);
            ASSERT_TRUE(result) << result.reason();
            const music::Segment& segment = *result.value();
            std::vector<const music::Event*> notes;
            for (const music::Event& event : segment.events()) {
                if (!event.isMeta())
                    notes.push_back(&event);
            }
            ASSERT_EQ(notes.size(), expected.size());
            for (std::size_t i = 0; i < notes.size(); ++i) {
                const Expected& want = expected[i];
                ASSERT_EQ(segment.track(*notes[i]), want.track) << i;
                if (want.order % 97 == 5)
                    ASSERT_EQ(segment.bytes(*notes[i]).size(), 4u) << i; // F0 43 10 F7
                else
                    ASSERT_EQ(notes[i]->data1(), want.order % 128) << i;
            }
            if (threads == 1)
                first = lines(segment);
            else
                EXPECT_EQ(lines(segment), first);
        }
    }
}

TEST(MusicLoader, PlaysFormat2TracksOneAfterAnother)
{
    const Bytes file =
        cat({header(2, 2, 96),
             track(cat({{0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00}, endOfTrack(0)})),
             track(cat({tempo(0, 1000000), {0x00, 0x90, 0x3E, 0x40}, endOfTrack(96)}))});
    const music::LoadResult result = load(file);
    ASSERT_TRUE(result) << result.reason();
    EXPECT_EQ(lines(*result.value()), (Lines{"0 0 0 90 3C 40", "768 500000 0 80 3C 00",
                                             "768 500000 0 FF 2F", "768 500000 1 FF 51 0F 42 40",
                                             "768 500000 1 90 3E 40", "1536 1500000 1 FF 2F"}));
    EXPECT_EQ(result.value()->length(), 1536);
}

TEST(MusicLoader, ReadsRiffMidiByContent)
{
    const Bytes smf =
        cat({header(0, 1, 96), track(cat({{0x00, 0x90, 0x3C, 0x40}, endOfTrack(96)}))});
    const Lines expected{"0 0 0 90 3C 40", "768 500000 0 FF 2F"};
    EXPECT_EQ(eventLines(riff(smf)), expected);
    // A LIST chunk of odd size before the data, padded to even.
    const Bytes list = cat({text("LIST"), little32(5), text("INFOa"), {0x00}});
    EXPECT_EQ(eventLines(riff(smf, list)), expected);
    // An odd-sized SMF inside: the pad byte after it is not part of the music.
    const Bytes odd = cat({header(0, 1, 96), track(cat({{0x00, 0xC0, 0x05}, endOfTrack(96)}))});
    ASSERT_EQ(odd.size() % 2, 1u);
    const music::LoadResult padded = load(riff(odd));
    ASSERT_TRUE(padded);
    EXPECT_EQ(lines(*padded.value()), (Lines{"0 0 0 C0 05", "768 500000 0 FF 2F"}));
    EXPECT_TRUE(padded.value()->warnings().empty());

    struct Case
    {
        const char* what;
        Bytes file;
        music::Error error;
        const char* reason;
    };
    const Case broken[] = {
        {"other form", cat({text("RIFF"), little32(4), text("WAVE")}), music::Error::NotMidi,
         "WAVE"},
        {"no data chunk", cat({text("RIFF"), little32(16), text("RMID"), list}),
         music::Error::NotMidi, "data"},
        {"data without MThd", riff(text("MTrk0000")), music::Error::InvalidHeader, "MThd"},
        {"cut short", text("RIFF\x04"), music::Error::NotMidi, "RIFF"},
        {"chunk length past the end",
         cat({text("RIFF"), little32(100), text("RMID"), text("LIST"), little32(0x7C000000),
              text("data")}),
         music::Error::NotMidi, "data"},
    };
    for (const Case& c : broken) {
        const music::LoadResult result = load(c.file);
        EXPECT_FALSE(result) << c.what;
        EXPECT_EQ(result.error(), c.error) << c.what;
        EXPECT_NE(result.reason().find(c.reason), std::string::npos)
            << c.what << ": " << result.reason();
    }
    // A data chunk that claims more than the file holds keeps what is there.
    Bytes cut = riff(smf);
    cut.resize(cut.size() - 1);
    const music::LoadResult partial = load(cut);
    ASSERT_TRUE(partial);
    EXPECT_EQ(lines(*partial.value()), Lines{"0 0 0 90 3C 40"});
    EXPECT_FALSE(partial.value()->warnings().empty());
}

TEST(MusicLoader, KeepsSysExAsBytesToSendAndTheWantedMetaEvents)
{
    const Bytes file =
        cat({header(0, 1, 96),
             track(cat({{0x00, 0x90, 0x3C, 0x40},
                        meta(0, 0x01, text("hi")),
                        {0x00, 0x3E, 0x40}, // running status survives a meta event
                        {0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7},
                        {0x00, 0x40, 0x40}, // and a SysEx message
                        meta(0, 0x04, text("piano")),
                        meta(0, 0x21, {0x00}),
                        meta(0, 0x7F, {0x00, 0x01}),
                        meta(0, 0x00, {0x00, 0x01}),
                        meta(0, 0x02, text("c")),
                        meta(0, 0x03, text("t")),
                        meta(0, 0x05, text("l")),
                        meta(0, 0x06, text("m")),
                        meta(0, 0x07, text("q")),
                        meta(0, 0x58, {0x06, 0x03, 0x18, 0x08}),
                        meta(96, 0x59, {0xFD, 0x01}),
                        // A SysEx message in packets, closed by the last.
                        {0x00, 0xF0, 0x03, 0x43, 0x12, 0x00, 0x60, 0xF7, 0x02, 0x07, 0xF7},
                        {0x00, 0xF7, 0x02, 0xF3, 0x01}, // an escape: sent as it is
                        {0x00, 0xF7, 0x00},             // an empty escape sends nothing
                        {0x00, 0xF0, 0x02, 0x41, 0x10}, // never closed
                        {0x00, 0x90, 0x3C, 0x40},
                        endOfTrack()}))});
    const music::LoadResult result = load(file);
    ASSERT_TRUE(result) << result.reason();
    const music::Segment& segment = *result.value();
    EXPECT_EQ(lines(segment),
              (Lines{"0 0 0 90 3C 40", "0 0 0 FF 01 68 69", "0 0 0 90 3E 40", "0 0 0 F0 7E 7F F7",
                     "0 0 0 90 40 40", "0 0 0 FF 02 63", "0 0 0 FF 03 74", "0 0 0 FF 05 6C",
                     "0 0 0 FF 06 6D", "0 0 0 FF 07 71", "0 0 0 FF 58 06 03 18 08",
                     "768 500000 0 FF 59 FD 01", "1536 1000000 0 F0 43 12 00 07 F7",
                     "1536 1000000 0 F3 01", "1536 1000000 0 F0 41 10 F7",
                     "1536 1000000 0 90 3C 40", "1536 1000000 0 FF 2F"}));
    ASSERT_EQ(segment.warnings().size(), 1u);
    EXPECT_NE(segment.warnings()[0].find("closing F7"), std::string::npos);

    ASSERT_EQ(segment.timeSignatures().size(), 1u);
    EXPECT_EQ(segment.timeSignatures()[0].numerator, 6);
    EXPECT_EQ(segment.timeSignatures()[0].denominatorPower, 3);
    ASSERT_EQ(segment.keySignatures().size(), 1u);
    EXPECT_EQ(segment.keySignatures()[0].time, 768);
    EXPECT_EQ(segment.keySignatures()[0].sharps, -3);
    EXPECT_TRUE(segment.keySignatures()[0].minor);
    EXPECT_EQ(segment.metaType(segment.events()[1]), 0x01);
    EXPECT_EQ(segment.metaType(segment.events()[0]), 0);
}

TEST(MusicTiming, ComputesEveryTimeFromTheAbsoluteTick)
{
    // 2000 one-tick steps at 480 per quarter: adding rounded steps of 1.6 music
    // ticks would drift by hundreds of ticks; each time must be exact.
    Bytes events{0x00, 0x90, 0x3C, 0x40};
    for (int i = 0; i < 2000; ++i)
        events.insert(events.end(), {0x01, 0x3C, static_cast<std::uint8_t>(i % 2 ? 0x40 : 0)});
    const music::LoadResult result =
        load(cat({header(0, 1, 480), track(cat({events, endOfTrack(1)}))}));
    ASSERT_TRUE(result);
    const music::Segment& segment = *result.value();
    ASSERT_EQ(segment.events().size(), 2002u);
    for (std::uint64_t tick = 0; tick <= 2000; ++tick) {
        const music::Event& event = segment.events()[tick];
        ASSERT_EQ(event.time(), static_cast<music::MusicTime>(tick * 768 / 480)) << tick;
        ASSERT_EQ(segment.realTime(event), tick * 500000 / 480) << tick;
    }
    EXPECT_EQ(segment.length(), 2001 * 768 / 480);
}

TEST(MusicTiming, KeepsRealTimeExactFinerThanMusicTimeAndOrdersByIt)
{
    // At 960 per quarter two ticks share one music tick; real time and order
    // still follow the file's own ticks.
    const Bytes file = cat({header(1, 2, 960),
                            track(cat({{0x01, 0x90, 0x3C, 0x40, 0x01, 0x3D, 0x40}, endOfTrack()})),
                            track(cat({{0x00, 0x91, 0x30, 0x40}, endOfTrack(2)}))});
    EXPECT_EQ(eventLines(file), (Lines{"0 0 1 91 30 40", "0 520 0 90 3C 40", "1 1041 0 90 3D 40",
                                       "1 1041 0 FF 2F", "1 1041 1 FF 2F"}));
}

TEST(MusicTiming, ConvertsThroughTheTempoMapBothWays)
{
    // Tempo events in a later track count, and of two at the same tick the later
    // track's wins.
    const Bytes file =
        cat({header(1, 2, 96), track(cat({tempo(96, 2000000), tempo(192, 250000), endOfTrack(96)})),
             track(cat({tempo(96, 1000000), endOfTrack()}))});
    const music::LoadResult result = load(file);
    ASSERT_TRUE(result);
    const music::TempoMap& map = result.value()->tempoMap();
    ASSERT_EQ(map.changes().size(), 3u);
    EXPECT_EQ(map.changes()[0].microsecondsPerQuarter, music::kDefaultTempo);
    EXPECT_EQ(map.changes()[1].time, 768);
    EXPECT_EQ(map.changes()[1].microsecondsPerQuarter, 1000000u);
    EXPECT_EQ(map.changes()[2].time, 2304);
    EXPECT_EQ(map.realTime(0), 0u);
    EXPECT_EQ(map.realTime(1), 651u);
    EXPECT_EQ(map.realTime(768), 500000u);
    EXPECT_EQ(map.realTime(2304), 2500000u);
    EXPECT_EQ(map.realTime(3072), 2750000u);
    EXPECT_EQ(map.musicTime(2500000), 2304);
    EXPECT_EQ(map.musicTime(2750000), 3072);
    // musicTime is the last music time whose exact real time has been reached;
    // realTime rounds down, so the exact time lies before realTime + 1.
    for (music::MusicTime time = 0; time < 4000; ++time) {
        const std::uint64_t real = map.realTime(time);
        ASSERT_LE(map.musicTime(real), time) << time;
        ASSERT_GE(map.musicTime(real + 1), time) << time;
    }
}

TEST(MusicTiming, SmpteDivisionFixesRealTimeAndRunsMusicTimeAt120Bpm)
{
    struct Case
    {
        std::uint16_t division;
        std::uint32_t ticks;
        music::MusicTime time;
        std::uint64_t microseconds;
    };
    const Case cases[] = {
        {0xE728, 1000, 1536, 1000000}, // 25 fps, 40 per frame: a tick is 1 ms
        {0xE850, 1920, 1536, 1000000}, // 24 fps, 80 per frame
        {0xE250, 2400, 1536, 1000000}, // 30 fps, 80 per frame
        {0xE350, 2398, 1536, 1000165}, // 29.97 fps: 30000/1001
    };
    for (const Case& c : cases) {
        // The tempo event is kept as an event but does not change real time.
        const Bytes file = cat(
            {header(0, 1, c.division),
             track(cat({tempo(0, 1000000), varLen(c.ticks), {0x90, 0x3C, 0x40}, endOfTrack()}))});
        const music::LoadResult result = load(file);
        ASSERT_TRUE(result) << c.division;
        const music::Segment& segment = *result.value();
        EXPECT_EQ(segment.division(), static_cast<std::int16_t>(c.division));
        ASSERT_EQ(segment.events().size(), 3u);
        EXPECT_EQ(segment.events()[1].time(), c.time) << c.division;
        EXPECT_EQ(segment.realTime(segment.events()[1]), c.microseconds) << c.division;
        EXPECT_EQ(segment.tempoMap().changes().size(), 1u);
    }
}

TEST(MusicTiming, MusicTimeIsExactForEveryKindOfDivision)
{
    // Positions on the file's clock are divided by the division with a
    // multiplication: exact for small and odd divisions, SMPTE ones, and ticks
    // up to the end of music time.
    std::mt19937_64 random(7);
    for (const std::uint16_t division :
         {std::uint16_t{1}, std::uint16_t{3}, std::uint16_t{7}, std::uint16_t{96},
          std::uint16_t{480}, std::uint16_t{960}, std::uint16_t{32767}, std::uint16_t{0xE3FF},
          std::uint16_t{0xE250}, std::uint16_t{0xE728}}) {
        const bool smpte = division & 0x8000;
        // Music ticks per file tick, as a fraction.
        const std::uint64_t numerator =
            smpte ? (division == 0xE3FF ? 768 * 2 * 1001 : 768 * 2) : 768;
        const std::uint64_t denominator =
            smpte ? (division == 0xE3FF ? 30000u * 255 : (division == 0xE250 ? 30u * 80 : 25u * 40))
                  : division;
        const std::uint64_t lastTick = (std::uint64_t{0x7FFFFFFF} * denominator) / numerator;
        std::vector<std::uint64_t> ticks{0, 1, denominator - 1, denominator, lastTick};
        for (int i = 0; i < 200; ++i)
            ticks.push_back(random() % lastTick);
        std::sort(ticks.begin(), ticks.end());
        Bytes events;
        std::uint64_t at = 0;
        for (const std::uint64_t tick : ticks) {
            // Deltas of at most 28 bits: long gaps in several steps of meta events.
            while (tick - at > 0x0FFFFFFF) {
                const Bytes gap = meta(0x0FFFFFFF, 0x01, {});
                events.insert(events.end(), gap.begin(), gap.end());
                at += 0x0FFFFFFF;
            }
            const Bytes step = cat({varLen(static_cast<std::uint32_t>(tick - at)), {0xC0, 0x01}});
            events.insert(events.end(), step.begin(), step.end());
            at = tick;
        }
        const music::LoadResult result =
            load(cat({header(0, 1, division), track(cat({events, endOfTrack()}))}));
        ASSERT_TRUE(result) << division << ": " << result.reason();
        std::vector<music::MusicTime> times;
        for (const music::Event& event : result.value()->events()) {
            if (event.isChannel())
                times.push_back(event.time());
        }
        ASSERT_EQ(times.size(), ticks.size()) << division;
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            const auto exact =
                static_cast<music::MusicTime>(ticks[i] * numerator / denominator); // below 2^54
            ASSERT_EQ(times[i], exact) << division << " tick " << ticks[i];
        }
    }
}

TEST(MusicLoader, LoadsLargeFilesInRoundsWithinEightBytesAnEvent)
{
    // Over 4 MB of file in one track: many rounds, each handing on what it read
    // beyond its bound.
    constexpr std::uint32_t kNotes = 1700000;
    Bytes events = {0x00, 0x90, 0x3C, 0x40};
    events.reserve(3 * kNotes + 16);
    for (std::uint32_t i = 0; i < kNotes; ++i)
        events.insert(events.end(), {0x01, static_cast<std::uint8_t>(i % 128), 0x40});
    const Bytes file = cat({header(0, 1, 96), track(cat({events, endOfTrack()}))});
    ASSERT_GT(file.size(), 4u << 20);
    const music::LoadResult result = load(file);
    ASSERT_TRUE(result);
    const music::Segment& segment = *result.value();
    ASSERT_EQ(segment.events().size(), kNotes + 2u);
    for (std::uint32_t i = 0; i <= kNotes; ++i)
        ASSERT_EQ(segment.events()[i].time(), static_cast<music::MusicTime>(i * 8)) << i;
    EXPECT_EQ(segment.events()[kNotes].data1(), (kNotes - 1) % 128);
    EXPECT_EQ(segment.length(), static_cast<music::MusicTime>(kNotes * 8));
    EXPECT_LE(segment.memoryUsage(), 8 * segment.events().size() + 8192);
}

TEST(MusicLoader, KeepsEveryEventOfRoundsFarLargerThanAimedForOnTwoThreads)
{
    // Eight tracks of notes on one tick, then one more: a round takes far more
    // events than it aims for, and two threads write them as one does.
    constexpr int kTracks = 8;
    constexpr std::uint32_t kNotes = 40000;
    Bytes file = header(1, kTracks, 96);
    for (int t = 0; t < kTracks; ++t) {
        Bytes events = {0x00, static_cast<std::uint8_t>(0x90 | t), 0x3C, 0x40};
        for (std::uint32_t i = 1; i < kNotes; ++i)
            events.insert(events.end(), {0x00, static_cast<std::uint8_t>(i % 128), 0x40});
        events.insert(events.end(), {0x60, 0x3C, 0x00});
        const Bytes chunk = track(cat({events, endOfTrack()}));
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    Lines first;
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        music::LoadOptions options;
        options.threads = threads;
        const music::LoadResult result =
            music::load(std::span<const std::uint8_t>(file.data(), file.size()), options);
        ASSERT_TRUE(result) << result.reason();
        const music::Segment& segment = *result.value();
        ASSERT_EQ(segment.events().size(), kTracks * (kNotes + 2u));
        for (const music::Event& event : segment.events())
            ASSERT_TRUE(event.isMeta() || (event.status() & 0xF0) == 0x90);
        if (threads == 1)
            first = lines(segment);
        else
            EXPECT_EQ(lines(segment), first);
    }
}

TEST(MusicSegment, PacksChannelEventsInEightBytesAndMovesItsStartPoint)
{
    Bytes events;
    for (int i = 0; i < 10000; ++i)
        events.insert(events.end(), {0x00, 0x90, 0x3C, 0x40});
    const music::LoadResult result =
        load(cat({header(0, 1, 96), track(cat({events, endOfTrack(96)}))}));
    ASSERT_TRUE(result);
    music::Segment& segment = *result.value();
    ASSERT_EQ(segment.events().size(), 10001u);
    EXPECT_LE(segment.memoryUsage(), 8 * segment.events().size() + 2048);

    EXPECT_EQ(segment.startPoint(), 0);
    EXPECT_TRUE(segment.setStartPoint(500));
    EXPECT_EQ(segment.startPoint(), 500);
    EXPECT_FALSE(segment.setStartPoint(769)) << "past the end";
    EXPECT_FALSE(segment.setStartPoint(-1));
    EXPECT_EQ(segment.startPoint(), 500);
    EXPECT_TRUE(segment.setStartPoint(768)) << "the end itself is in the piece";
    EXPECT_TRUE(segment.setStartPoint(0));
}

TEST(MusicLoaderCache, KeepsSegmentsByPathUntilReleased)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto pathOf = [&dir](const char* name) {
        return QFile::encodeName(dir.filePath(QString::fromUtf8(name))).toStdString();
    };
    const auto write = [](const std::string& path, const Bytes& bytes) {
        return testsupport::writeFile(QFile::decodeName(path.c_str()),
                                      QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<qsizetype>(bytes.size())));
    };
    const Bytes first =
        cat({header(0, 1, 96), track(cat({{0x00, 0x90, 0x3C, 0x40}, endOfTrack(96)}))});
    const Bytes second = cat({header(0, 1, 96), track(cat({endOfTrack(192)}))});

    // The content decides, not the name.
    const std::string path = pathOf("piece.rmi");
    ASSERT_TRUE(write(path, first));
    music::Loader loader;
    const music::LoadResult a = loader.getObject(path);
    ASSERT_TRUE(a) << a.reason();
    EXPECT_EQ(a.value()->length(), 768);

    // Cached: the same segment, even after the file changed on disk.
    ASSERT_TRUE(write(path, second));
    const music::LoadResult b = loader.getObject(path);
    EXPECT_EQ(b.value(), a.value());
    EXPECT_EQ(loader.cachedCount(), 1u);

    // Released: read afresh.
    EXPECT_TRUE(loader.releaseObject(path));
    EXPECT_FALSE(loader.releaseObject(path));
    const music::LoadResult c = loader.getObject(path);
    ASSERT_TRUE(c);
    EXPECT_NE(c.value(), a.value());
    EXPECT_EQ(c.value()->length(), 1536);
    EXPECT_TRUE(loader.releaseObject(c.value().get()));
    EXPECT_EQ(loader.cachedCount(), 0u);

    // RIFF content under a .mid name.
    const std::string riffPath = pathOf("riff.mid");
    ASSERT_TRUE(write(riffPath, riff(first)));
    EXPECT_TRUE(loader.getObject(riffPath));

    // Failures are reported and not cached.
    const music::LoadResult missing = loader.getObject(pathOf("missing.mid"));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.code(), music::Result::Failed);
    EXPECT_EQ(missing.error(), music::Error::ReadFailed);
    EXPECT_EQ(music::errorName(missing.error()), "read-failed");
    EXPECT_NE(missing.reason().find("No such file"), std::string::npos) << missing.reason();
    const music::LoadResult folder = loader.getObject(dir.path().toStdString());
    EXPECT_EQ(folder.error(), music::Error::NotAFile);
    const std::string textPath = pathOf("notes.mid");
    ASSERT_TRUE(write(textPath, text("just text")));
    const music::LoadResult notMidi = loader.getObject(textPath);
    EXPECT_EQ(notMidi.error(), music::Error::NotMidi);
    EXPECT_EQ(loader.cachedCount(), 1u);
}

TEST(MusicLoaderFile, MapsOrReadsTheFileAndKeepsNothingOfIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path =
        QFile::encodeName(dir.filePath(QStringLiteral("piece.mid"))).toStdString();
    Bytes notes;
    for (int i = 0; i < 2000; ++i)
        notes.insert(notes.end(), {0x01, 0x90, static_cast<std::uint8_t>(i % 128), 0x40});
    const Bytes file = cat({header(1, 2, 96),
                            track(cat({meta(0, 0x03, text("piano")),
                                       {0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                                       notes,
                                       endOfTrack()})),
                            track(cat({notes, meta(0, 0x05, text("la")), endOfTrack()}))});
    const auto write = [&path](const Bytes& bytes) {
        return testsupport::writeFile(QFile::decodeName(path.c_str()),
                                      QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<qsizetype>(bytes.size())));
    };
    ASSERT_TRUE(write(file));
    const Lines expected = eventLines(file);

    // Mapped while it is read: the segment holds its own copy of every byte.
    const music::LoadResult mapped = music::loadFile(path);
    ASSERT_TRUE(mapped) << mapped.reason();
    // Open for writing elsewhere: no lease on it, so it is read, not mapped.
    const int writer = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const music::LoadResult read = music::loadFile(path);
    ASSERT_TRUE(read) << read.reason();
    // The file cut to nothing afterwards changes neither.
    ASSERT_EQ(::ftruncate(writer, 0), 0);
    ::close(writer);
    EXPECT_EQ(lines(*mapped.value()), expected);
    EXPECT_EQ(lines(*read.value()), expected);
    EXPECT_EQ(expected[1], "0 0 0 F0 7E 7F 09 01 F7");
}
