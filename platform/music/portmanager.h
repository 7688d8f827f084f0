// The MIDI output ports of the machine: listing them, the default one, and
// making a port object for one of them. Port backends come from a fixed
// table of {name, enumerate, create} (portBackends()): the built-in
// synthesizer, then the ALSA sequencer, then the recording ports that tests
// ask for in the options.
//
// Threads: the user-interface thread only.
#pragma once

#include "port.h"
#include "result.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace music {

// How the built-in synthesizer makes its sound.
enum class SynthOutput
{
    Device,     // the first audio driver that works, else a silent sink
    SilentSink, // real time, no sound
    Offline,    // time advances only by rendering (tests, the render tool)
};

struct PortParams
{
    bool reverb = false; // the port is made with its reverb on
};

class PortManager
{
public:
    struct Options
    {
        SynthOutput synthOutput = SynthOutput::Device;
        std::string soundFont; // a SoundFont file; empty: search the folders
        // The system's SoundFont folder, searched after the user's own
        // ($XDG_DATA_HOME/sounds/sf2); empty: those of $XDG_DATA_DIRS and
        // /usr/share/sounds/sf2 (internal/soundfont.h, soundFontFolders()).
        std::string soundFontFolder;
        int sampleRate = 44100;
        bool alsa = true;        // list the ALSA sequencer's ports when it exists
        bool synthesizer = true; // list the built-in synthesizer (tests can leave it out)
        // Recording ports (recordingport.h) to list last, each made with
        // these capabilities; none in the program.
        std::vector<PortCaps> recordingPorts;
    };

    PortManager();
    explicit PortManager(Options options);
    ~PortManager();

    // The port at `index`: Ok, or NothingFound past the last one. The
    // synthesizer comes first, then the ALSA ports in client and port order.
    Result enumPort(int index, PortCaps& caps);
    // Identifier of the system's default port: the built-in synthesizer.
    std::string defaultPort() const;
    // A port object for `id`, inactive; null when the port is not (or no longer) there.
    std::unique_ptr<Port> createPort(const std::string& id, const PortParams& params);

private:
    void refresh();

    struct Entry
    {
        PortCaps caps;
        std::size_t backend = 0; // index into portBackends()
    };
    Options m_options;
    std::vector<Entry> m_entries;
};

// A kind of output port.
struct PortBackend
{
    const char* name;
    // Appends the ports of this kind there are now (none when `options` leave it out).
    void (*enumerate)(const PortManager::Options& options, std::vector<PortCaps>& ports);
    // A port object for one of them, inactive; null when it is not (or no longer) there.
    std::unique_ptr<Port> (*create)(const PortManager::Options& options, const PortCaps& caps,
                                    const PortParams& params);
};

// The backends in the order their ports are listed: the built-in
// synthesizer (the default port), the ALSA sequencer's ports, the recording
// ports of the options.
std::span<const PortBackend> portBackends();

} // namespace music
