// The performance on the real-time clock, threads and all: its scheduler
// thread hands a piece to the built-in synthesizer, whose audio thread renders
// into the silent sink; a notification thread waits on the performance's
// queue as the engine's does; this thread, standing for the user interface,
// reads the position and stops. Nothing here asserts a time: the waits end on
// notifications. The ThreadSanitizer build runs these with the other tests
// labelled "threads".
#include "internal/synthport.h"
#include "midibytes.h"
#include "notificationqueue.h"
#include "performance.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace midibytes;
using namespace music;
using music::internal::AudioMode;
using music::internal::SynthOptions;
using music::internal::SynthPort;

namespace {

// Sixteen notes, four to a beat, at the given tempo: 62500 microseconds a
// beat makes a quarter of a second.
std::shared_ptr<Segment> piece(std::uint32_t microsecondsPerBeat)
{
    Bytes events = tempo(0, microsecondsPerBeat);
    for (std::uint8_t note = 60; note < 76; ++note)
        events = cat({events, {0x00, 0x90, note, 100, 0x18, 0x80, note, 0}});
    LoadResult loaded = load(cat({header(0, 1, 96), track(cat({events, endOfTrack()}))}));
    EXPECT_TRUE(loaded) << loaded.reason();
    return loaded ? loaded.value() : nullptr;
}

struct RealTimeRig
{
    QTemporaryDir noSoundFonts;
    SynthPort port{[this] {
        SynthOptions options;
        options.mode = AudioMode::SilentSink;
        options.soundFontFolder = noSoundFonts.path().toStdString();
        return options;
    }()};
    NotificationQueue queue;
    Performance performance{Performance::Clock::RealTime};
    std::mutex mutex;
    std::condition_variable woken;
    int wakeUps = 0;
    std::thread notifier;

    RealTimeRig()
    {
        EXPECT_EQ(port.activate(true), Result::Ok);
        performance.Init();
        performance.SetNotificationHandle(&queue);
        performance.AddNotificationType(NotificationType::Segment);
        performance.AddPort(&port);
        notifier = std::thread([this] {
            while (queue.wait()) {
                std::lock_guard lock(mutex);
                ++wakeUps;
                woken.notify_one();
            }
        });
    }
    ~RealTimeRig()
    {
        performance.CloseDown();
        queue.close();
        notifier.join();
        port.activate(false);
    }

    // The next notification, taken as the main window takes it after a wake-up;
    // meanwhile the position is read as the status bar's timer reads it.
    Notification next(const std::shared_ptr<SegmentState>& state, MusicTime& lastSeek)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < giveUp) {
            Notification n;
            if (performance.GetNotificationPMsg(n) == Result::Ok)
                return n;
            MusicTime seek = 0;
            if (state && state->GetSeek(seek) == Result::Ok) {
                EXPECT_GE(seek, lastSeek);
                lastSeek = seek;
            }
            std::unique_lock lock(mutex);
            woken.wait_for(lock, std::chrono::milliseconds(5), [this] { return wakeUps > 0; });
            wakeUps = 0;
        }
        ADD_FAILURE() << "no notification came";
        return {};
    }
};

} // namespace

TEST(RealTimeScheduler, APiecePlaysToItsEndAndAStoppedOneEndsWithoutAnEnd)
{
    RealTimeRig rig;
    const std::shared_ptr<Segment> quick = piece(62500);
    const std::shared_ptr<Segment> slow = piece(2000000); // eight seconds
    ASSERT_TRUE(quick && slow);

    std::shared_ptr<SegmentState> state;
    ASSERT_EQ(rig.performance.PlaySegment(quick, Performance::kStartAtBeat, &state), Result::Ok);
    MusicTime seek = 0;
    Notification n = rig.next(state, seek);
    EXPECT_EQ(n.option, SegmentOption::Start);
    EXPECT_EQ(n.instance, state->id());
    n = rig.next(state, seek);
    EXPECT_EQ(n.option, SegmentOption::End);
    EXPECT_EQ(n.instance, state->id());
    ASSERT_EQ(state->GetSeek(seek), Result::Ok);
    EXPECT_EQ(seek, quick->length());

    // A piece stopped once it has started ends with an abort, not an end.
    ASSERT_EQ(rig.performance.PlaySegment(slow, 0, &state), Result::Ok);
    seek = 0;
    n = rig.next(state, seek);
    EXPECT_EQ(n.option, SegmentOption::Start);
    EXPECT_EQ(rig.performance.Stop(), Result::Ok);
    n = rig.next(nullptr, seek);
    EXPECT_EQ(n.option, SegmentOption::Abort);
    EXPECT_EQ(n.instance, state->id());
    ASSERT_EQ(state->GetSeek(seek), Result::Ok);
    EXPECT_LT(seek, slow->length());
}
