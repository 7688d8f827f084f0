// Owns FluidSynth's playing synthesizer and its settings. Its SoundFont stack
// holds one SoundFont, given at construction and never changed: the store's
// (soundfont.h), which decides what instruments there are.
//
// Threads: construction and destruction happen on the thread that owns the
// port, while no audio is rendered. Everything else is called only from the
// audio thread (or the offline renderer), which is the only thread that
// touches the synthesizer while it runs.
#pragma once

#include <cstdint>
#include <string>

struct _fluid_hashtable_t;
typedef struct _fluid_hashtable_t fluid_settings_t;
struct _fluid_synth_t;
typedef struct _fluid_synth_t fluid_synth_t;
struct _fluid_sfont_t;
typedef struct _fluid_sfont_t fluid_sfont_t;

namespace music::internal {

struct EngineSettings
{
    int sampleRate = 44100;
    int polyphony = 256;
    bool reverb = true;
    bool chorus = false;
    // Threads that render voices (FluidSynth's own, beside the caller's).
    int cpuCores = 1;
};

class FluidSynthEngine
{
public:
    FluidSynthEngine(const EngineSettings& settings, fluid_sfont_t* font);
    ~FluidSynthEngine();
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    bool isValid() const { return m_synth != nullptr; }
    int sampleRate() const { return m_sampleRate; }
    fluid_settings_t* settings() const { return m_settings; }

    // Audio thread only.
    // Every channel chooses its preset again (after instruments came or went).
    void resetPrograms();
    // With neither reverb nor chorus on, FluidSynth skips its effects pass
    // altogether (and with it an OpenMP region that allocates every block).
    void setReverb(bool on);
    // One complete MIDI message.
    void handle(const std::uint8_t* message, std::size_t length);
    // Renders `frames` frames of stereo audio, added to `left` and `right`.
    void render(float* left, float* right, int frames);
    // Voices sounding now.
    int activeVoices() const;

private:
    int m_sampleRate;
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
};

} // namespace music::internal
