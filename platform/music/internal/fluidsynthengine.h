// Owns FluidSynth's objects: the settings, the synthesizer and the
// SoundFont. The SoundFont is read from disk once; making its instruments
// available ("download") and taking them away ("unload") only puts it on the
// synthesizer's stack or takes it off, so both are instant.
//
// Threads: construction, loadSoundFont() and destruction happen on the
// thread that owns the port, while no audio is rendered. Everything else is
// called only from the audio thread (or the offline renderer), which is the
// only thread that touches the synthesizer while it runs.
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

class FluidSynthEngine
{
public:
    FluidSynthEngine(int sampleRate, int polyphony, bool chorus = true);
    ~FluidSynthEngine();
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    bool isValid() const { return m_synth != nullptr; }
    int sampleRate() const { return m_sampleRate; }
    fluid_settings_t* settings() const { return m_settings; }

    // Reads the SoundFont at `path`; false with `error` set when it cannot be read.
    bool loadSoundFont(const std::string& path, std::string& error);
    bool hasSoundFont() const { return m_soundFont != nullptr; }
    const std::string& soundFontPath() const { return m_soundFontPath; }

    // Audio thread only.
    void addSoundFont();
    void removeSoundFont();
    void setReverb(bool on);
    // One complete MIDI message.
    void handle(const std::uint8_t* message, std::size_t length);
    // Renders exactly `frames` frames (at most 64) of stereo audio, added to `left` and `right`.
    void render(float* left, float* right, int frames);

private:
    int m_sampleRate;
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    fluid_sfont_t* m_soundFont = nullptr;
    bool m_soundFontOnStack = false;
    std::string m_soundFontPath;
};

} // namespace music::internal
