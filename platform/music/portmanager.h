// The MIDI output ports of the machine: listing them, the default one, and
// making a port object for one of them. Port backends come from a table: the
// built-in synthesizer, the ALSA sequencer and the recorder that tests use.
//
// Threads: the user-interface thread only.
#pragma once

#include "port.h"
#include "result.h"

#include <functional>
#include <memory>
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
        std::string soundFont; // empty: search the usual folder
        std::string soundFontFolder = "/usr/share/sounds/sf2";
        int sampleRate = 44100;
        bool alsa = true;        // list the ALSA sequencer's ports when it exists
        bool synthesizer = true; // list the built-in synthesizer (tests can leave it out)
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

    // Tests: an extra port offered under `caps.id`, listed after the others.
    void addTestPort(const PortCaps& caps, std::function<std::unique_ptr<Port>()> make);

private:
    void refresh();

    struct Entry
    {
        PortCaps caps;
        std::function<std::unique_ptr<Port>(const PortParams&)> make;
    };
    Options m_options;
    std::vector<Entry> m_entries;
    std::vector<Entry> m_testEntries;
};

} // namespace music
