// The built-in synthesizer as the tools and the tests use it: an output port
// (FluidSynth with a General MIDI SoundFont) that, made for offline
// rendering, renders on demand, so a caller can hear what a piece sounds like
// without a sound device and without waiting for real time. The program
// itself gets it from the port manager like any port.
//
// Threads: as for every port (port.h); offline, the thread that calls
// renderOffline() plays the audio thread's part.
#pragma once

#include "port.h"
#include "portmanager.h"

#include <cstdint>
#include <memory>
#include <string>

namespace music {

struct SynthesizerOptions
{
    SynthOutput output = SynthOutput::Device;
    int sampleRate = 44100;
    bool reverb = true;
    bool chorus = false;
    int cpuCores = 1;            // threads that render voices
    std::string soundFont;       // a SoundFont file; empty: search the folders
    std::string soundFontFolder; // the system's; empty: as PortManager::Options says
};

class Synthesizer : public Port
{
public:
    // What reached the synthesizer so far.
    struct Counts
    {
        std::uint64_t noteOns = 0;
        std::uint64_t noteOffs = 0;    // note offs and note ons of velocity 0
        std::uint64_t shedNoteOns = 0; // too short to be heard while it could not keep up
    };

    virtual int sampleRate() const = 0;
    // Name of the audio output in use ("pulseaudio", "silent", ...), empty offline.
    virtual std::string outputName() const = 0;
    // Offline: renders the next `frames` frames of stereo audio (the buffers
    // are overwritten); the port's clock advances by as much.
    virtual void renderOffline(float* left, float* right, int frames) = 0;
    virtual Counts counts() const = 0;
};

// The built-in synthesizer, inactive.
std::unique_ptr<Synthesizer> makeSynthesizer(const SynthesizerOptions& options);

} // namespace music
