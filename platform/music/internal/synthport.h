// The built-in synthesizer as an output port: FluidSynth with a General MIDI
// SoundFont, heard through the first audio driver that works, or a silent
// sink, or rendered offline on demand. The port exists at once: in real time
// the synthesizer is made and its audio output opened on a thread of the
// port's own (activate() asks for the output and returns), and the SoundFont
// is read in the background (soundfont.h); download() waits until the
// piece's instruments are in memory.
//
// Threads: every Port operation may come from any thread but the audio
// thread; a producer lock orders them (the audio thread never takes it), and
// download() may wait for the SoundFont's worker. Messages and commands
// reach the audio thread through lock-free single-producer queues of plain
// structs; the audio thread owns the synthesizer and never allocates, frees,
// locks or waits (one exception is FluidSynth's own: while the reverb is on,
// its effects pass is an OpenMP region, for which the OpenMP runtime makes
// and frees a small team every block). It renders in steps of 64 frames, FluidSynth's own block,
// and before each step hands the synthesizer the messages whose time lies
// nearest to that step's start, so every message sounds within 32 frames of
// its time whatever buffer size the driver asks for. The port's clock is the
// audio rendered so far. Offline, the thread calling renderOffline() is the
// audio thread.
//
// Overload: where the synthesizer cannot keep up with real time (rendering
// takes most of the time it may), it sheds note ons that could not be heard:
// a note shorter than one 64-frame block, while every voice is in use, gets
// a voice that is released within a block and is the first to be stolen.
// (Its note off must be queued already: the scheduler hands messages over
// well ahead.) Note offs and controllers are never shed, and what was shed
// is counted. Offline, time waits for the rendering: nothing is shed.
//
// Idle: once nothing has sounded for a tenth of a second (no voice, the
// reverb's tail below what 16 bits can show) and nothing waits to be played,
// the port stops rendering: a sound device is handed silence without the
// synthesizer's work, and the silent sink sleeps until a message or command
// wakes it. Meanwhile the clock runs on from the monotonic clock.
#pragma once

#include "audiooutput.h"
#include "fluidsynthengine.h"
#include "port.h"
#include "soundfont.h"
#include "spscqueue.h"
#include "synthesizer.h"

#include <array>
#include <atomic>
#include <bitset>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace music::internal {

enum class AudioMode
{
    Device,     // the first audio driver that starts, else the silent sink
    SilentSink, // real time, no sound
    Offline,    // time advances only through renderOffline()
};

struct SynthOptions
{
    AudioMode mode = AudioMode::Device;
    int sampleRate = 44100;
    int polyphony = 256;
    bool reverb = true;
    // The player asks its port for reverb or for no effect at all.
    bool chorus = false;
    int cpuCores = 1;            // threads that render voices
    std::string soundFont;       // a SoundFont file; empty: search the folders
    std::string soundFontFolder; // the system's; empty: see soundFontFolders()
};

class SynthPort final : public Synthesizer, private AudioSource
{
public:
    static constexpr char kId[] = "brisolde:synthesizer";
    static constexpr char kDescription[] = "Built-in synthesizer (FluidSynth)";
    // Its entry in the device list when there is no SoundFont to read.
    static constexpr char kDescriptionWithoutSoundFont[] =
        "Built-in synthesizer (FluidSynth) \u2013 no SoundFont";
    // What the user is told then.
    static constexpr char kNoSoundFontNotice[] =
        "No SoundFont for the built-in synthesizer: install timgm6mb-soundfont or "
        "fluid-soundfont-gm";
    static constexpr int kStep = 64;

    explicit SynthPort(const SynthOptions& options);
    ~SynthPort() override;

    // Its capabilities; `options` tell where its SoundFont would be found,
    // and the description and notice say so when there is none.
    static PortCaps makeCaps(const SynthOptions& options = {});
    const PortCaps& caps() const override { return m_caps; }
    Result activate(bool on) override;
    bool isActive() const override;
    std::int64_t now() const override;
    Result schedule(std::int64_t time, std::span<const std::uint8_t> message) override;
    Result sendNow(std::span<const std::uint8_t> message) override;
    void silence() override;
    Status download(std::span<const Instrument> instruments) override;
    Result unload() override;
    bool isDownloaded() const override;
    Result setReverb(bool on) override;

    // The SoundFont read; empty until it has been.
    std::string soundFontPath() const { return m_store.path(); }
    // Instruments whose samples are in memory now.
    std::size_t instrumentsInMemory() const { return m_store.presetsInMemory(); }

    int sampleRate() const override { return m_sampleRate; }
    std::string outputName() const override;
    void renderOffline(float* left, float* right, int frames) override;
    // Frames rendered so far: the port's clock in frames.
    std::int64_t framesRendered() const { return m_clockFrames.load(std::memory_order_acquire); }

    // What reached the synthesizer so far; note ons are shed as "Overload" above says.
    Counts counts() const override;

private:
    struct Message
    {
        std::int64_t frame;
        std::uint32_t generation;
        std::uint32_t length; // bytes longer than `bytes` follow in the byte queue
        std::array<std::uint8_t, 16> bytes;
    };
    enum class Command : std::uint8_t
    {
        Send,
        Silence,
        Download,
        Unload,
        ReverbOn,
        ReverbOff
    };
    struct CommandMessage
    {
        Command command;
        std::uint32_t generation;
        std::uint32_t length;
        std::array<std::uint8_t, 16> bytes;
    };

    void renderAudio(float* left, float* right, int frames) override;
    bool beginSleep() override;
    void endSleep() override;
    void startEngine(const EngineSettings& settings, bool reverb);
    void openOutputLocked();
    void waitStartedLocked(std::unique_lock<std::mutex>& lock) const;
    int renderSteps(float* left, float* right, int maxSteps);
    int quietSteps(int maxSteps) const;
    bool workWaiting() const;
    void dispatchDue(std::int64_t due);
    void markShortNotes(std::size_t count, std::int64_t due);
    bool shed(const std::uint8_t* bytes, std::uint32_t length, std::size_t index);
    void measureLoad(std::int64_t started, int frames);
    void noteQuiet(float peak, int steps);
    void notifyAudio();
    void drainCommands();
    bool pushCommand(Command command, std::span<const std::uint8_t> message = {});
    static bool pushBytes(SpscQueue<std::uint8_t>& queue, std::span<const std::uint8_t> bytes);
    const std::uint8_t* takeBytes(SpscQueue<std::uint8_t>& queue, std::uint32_t length,
                                  const std::array<std::uint8_t, 16>& inlineBytes);
    void silenceNow();
    void play(const std::uint8_t* bytes, std::uint32_t length);

    PortCaps m_caps;
    AudioMode m_mode;
    // Declared before the engine: the synthesizer is destroyed first.
    SoundFontStore m_store;
    const int m_sampleRate;
    // Made before any audio runs and never changed after: in real time by
    // m_starter, which then opens the output if it has been asked for.
    std::unique_ptr<FluidSynthEngine> m_engine;
    std::thread m_starter;
    std::unique_ptr<AudioOutput> m_output;

    // Producer side.
    mutable std::mutex m_producer;
    mutable std::condition_variable m_startedChanged;
    bool m_started = false; // the synthesizer was made (or could not be)
    bool m_wantActive = false;
    bool m_active = false;
    bool m_downloaded = false;
    std::uint32_t m_generation = 0;
    std::int64_t m_lastScheduledFrame = 0;

    SpscQueue<Message> m_messages{kQueueLength};
    SpscQueue<std::uint8_t> m_messageBytes{1 << 20};
    SpscQueue<CommandMessage> m_commands{1024};
    SpscQueue<std::uint8_t> m_commandBytes{1 << 16};

    // Audio thread side.
    std::uint32_t m_audioGeneration = 0;
    std::int64_t m_nextStep = 0;
    std::vector<std::uint8_t> m_scratch;
    std::array<float, kStep> m_carryLeft{};
    std::array<float, kStep> m_carryRight{};
    int m_carryOffset = 0;
    int m_carryCount = 0;
    std::atomic<std::int64_t> m_clockFrames{0};
    // Written by the audio thread only.
    std::atomic<std::uint64_t> m_noteOns{0};
    std::atomic<std::uint64_t> m_noteOffs{0};
    // Voices sounding after the last step, and steps rendered, in that order:
    // whoever reads the steps first reads the voices of that step or a later one.
    std::atomic<int> m_voices{0};
    std::atomic<std::uint64_t> m_steps{0};
    std::atomic<std::uint64_t> m_shedNoteOns{0};
    // Overload: the share of real time that rendering takes, smoothed.
    int m_polyphony = 0;
    float m_load = 0.0f;
    bool m_shedding = false;
    // The time of the next note off of each channel and key, while the
    // queued messages are walked backwards; and which of this step's note
    // ons are shorter than a block.
    static constexpr std::size_t kQueueLength = 1 << 15;
    struct NoteOffMark
    {
        std::uint32_t pass = 0;
        std::int64_t frame = 0;
    };
    std::array<NoteOffMark, 16 * 128> m_noteOffMarks{};
    std::uint32_t m_markPass = 0;
    std::bitset<kQueueLength> m_shortNotes;
    // Idle: the audio thread renders nothing.
    bool m_idle = false;
    int m_quietSteps = 0;
    int m_quietStepsToIdle = 0;
    std::atomic<bool> m_idlePublished{false};
    // While the silent sink sleeps: the monotonic time in nanoseconds at
    // which the clock would have read zero; kAwake otherwise.
    static constexpr std::int64_t kAwake = INT64_MIN;
    std::atomic<std::int64_t> m_sleepOrigin{kAwake};
    std::atomic<std::uint64_t> m_handshake{0};
};

} // namespace music::internal
