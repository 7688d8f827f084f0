#include "portmanager.h"

#include "internal/alsaport.h"
#include "internal/synthport.h"
#include "recordingport.h"

#include <array>

namespace music {

using namespace internal;

namespace {

// Where the synthesizer finds its SoundFont.
SynthOptions synthOptions(const PortManager::Options& options)
{
    SynthOptions synth;
    synth.soundFont = options.soundFont;
    synth.soundFontFolder = options.soundFontFolder;
    return synth;
}

void enumerateSynthesizer(const PortManager::Options& options, std::vector<PortCaps>& ports)
{
    if (options.synthesizer)
        ports.push_back(SynthPort::makeCaps(synthOptions(options)));
}

std::unique_ptr<Port> createSynthesizer(const PortManager::Options& options, const PortCaps&,
                                        const PortParams& params)
{
    SynthOptions synth = synthOptions(options);
    synth.mode = options.synthOutput == SynthOutput::Device       ? AudioMode::Device
                 : options.synthOutput == SynthOutput::SilentSink ? AudioMode::SilentSink
                                                                  : AudioMode::Offline;
    synth.sampleRate = options.sampleRate;
    synth.reverb = params.reverb;
    return std::make_unique<SynthPort>(synth);
}

void enumerateAlsa(const PortManager::Options& options, std::vector<PortCaps>& ports)
{
    if (!options.alsa)
        return;
    if (auto sequencer = openAlsaSequencer("Brisolde")) {
        for (const SequencerPortInfo& info : sequencer->ports())
            ports.push_back(AlsaPort::capsFor(info));
    }
}

std::unique_ptr<Port> createAlsa(const PortManager::Options&, const PortCaps& caps,
                                 const PortParams&)
{
    // Each port gets a client of its own, so that its queue and output are
    // its alone. Client numbers change when a device comes back: the port is
    // found by its names again.
    auto sequencer = openAlsaSequencer("Brisolde");
    if (!sequencer)
        return nullptr;
    for (const SequencerPortInfo& info : sequencer->ports()) {
        if (AlsaPort::idFor(info) == caps.id)
            return std::make_unique<AlsaPort>(std::move(sequencer), info);
    }
    return nullptr;
}

void enumerateRecorders(const PortManager::Options& options, std::vector<PortCaps>& ports)
{
    ports.insert(ports.end(), options.recordingPorts.begin(), options.recordingPorts.end());
}

std::unique_ptr<Port> createRecorder(const PortManager::Options&, const PortCaps& caps,
                                     const PortParams& params)
{
    auto port = std::make_unique<RecordingPort>(caps);
    if (caps.reverb)
        port->setReverb(params.reverb);
    return port;
}

constexpr std::array kBackends{
    PortBackend{"synthesizer", enumerateSynthesizer, createSynthesizer},
    PortBackend{"alsa", enumerateAlsa, createAlsa},
    PortBackend{"recorder", enumerateRecorders, createRecorder},
};

} // namespace

std::span<const PortBackend> portBackends()
{
    return kBackends;
}

PortManager::PortManager() : PortManager(Options{}) {}

PortManager::PortManager(Options options) : m_options(std::move(options)) {}

PortManager::~PortManager() = default;

void PortManager::refresh()
{
    m_entries.clear();
    for (std::size_t b = 0; b < kBackends.size(); ++b) {
        std::vector<PortCaps> ports;
        kBackends[b].enumerate(m_options, ports);
        for (PortCaps& caps : ports)
            m_entries.push_back({std::move(caps), b});
    }
}

Result PortManager::enumPort(int index, PortCaps& caps)
{
    // Each listing starts afresh, so that it shows the ports there are now.
    if (index == 0)
        refresh();
    if (index < 0 || std::size_t(index) >= m_entries.size())
        return Result::NothingFound;
    caps = m_entries[std::size_t(index)].caps;
    return Result::Ok;
}

std::string PortManager::defaultPort() const
{
    return SynthPort::kId;
}

std::unique_ptr<Port> PortManager::createPort(const std::string& id, const PortParams& params)
{
    if (m_entries.empty())
        refresh();
    for (const Entry& entry : m_entries) {
        if (entry.caps.id != id || entry.caps.portClass != PortClass::Output)
            continue;
        return kBackends[entry.backend].create(m_options, entry.caps, params);
    }
    return nullptr;
}

} // namespace music
