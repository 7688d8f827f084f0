// Audio outputs for the built-in synthesizer: FluidSynth's drivers, tried in
// a fixed order, and a silent sink that keeps real time where no sound device
// works. Each output calls its source from its own audio thread. While the
// source is idle the silent sink sleeps until it is woken; a sound device
// keeps calling, and the source renders nothing.
#pragma once

#include "result.h"

#include <memory>
#include <span>
#include <string>

struct _fluid_hashtable_t;
typedef struct _fluid_hashtable_t fluid_settings_t;

namespace music::internal {

// Renders audio on demand; called only from the output's audio thread.
class AudioSource
{
public:
    virtual ~AudioSource();
    // Fills `frames` frames of stereo audio; the buffers arrive zeroed.
    virtual void renderAudio(float* left, float* right, int frames) = 0;
    // Output thread, between two renders: true when the source has nothing
    // to play and lets the output sleep; from then on it keeps its clock
    // from the monotonic clock, and wakes the output (AudioOutput::wake())
    // when something comes. False when it cannot sleep now.
    virtual bool beginSleep() { return false; }
    // Output thread: rendering goes on from now.
    virtual void endSleep() {}
};

class AudioOutput
{
public:
    virtual ~AudioOutput();
    virtual const char* name() const = 0;
    // Any thread: ends a sleep the source began; harmless when there is none.
    virtual void wake() {}
};

// An output, or why it did not start.
using AudioOutputOutcome = Outcome<std::unique_ptr<AudioOutput>>;

struct AudioDriver
{
    const char* name;
    AudioOutputOutcome (*create)(const char* name, AudioSource& source, fluid_settings_t* settings);
};

// The drivers in the order they are tried: pulseaudio (also serves PipeWire
// desktops), alsa, jack (only with a server already running), sdl2, and
// last the silent sink, which always starts.
std::span<const AudioDriver> audioDrivers();

// The first driver of the table that starts; failing that, the reasons of all.
AudioOutputOutcome openAudioOutput(AudioSource& source, fluid_settings_t* settings);

// Routes FluidSynth's log away from the terminal: messages are only kept
// while a FluidLogCapture lives on the thread (opening a driver, reading a
// SoundFont), to say why something failed; elsewhere, and on the audio
// thread, they are dropped without a word or an allocation.
void installFluidSynthLog();

// Collects FluidSynth's log messages of this thread while it lives.
class FluidLogCapture
{
public:
    FluidLogCapture();
    ~FluidLogCapture();
    FluidLogCapture(const FluidLogCapture&) = delete;
    FluidLogCapture& operator=(const FluidLogCapture&) = delete;
    // The messages so far, separated by "; ".
    const std::string& messages() const { return m_messages; }

private:
    std::string m_messages;
    std::string* m_previous;
};

// The silent sink alone: renders at the speed of real time and discards the sound.
std::unique_ptr<AudioOutput> openSilentSink(AudioSource& source, int sampleRate);

} // namespace music::internal
