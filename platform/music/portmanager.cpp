#include "portmanager.h"

#include "internal/alsaport.h"
#include "internal/synthport.h"

namespace music {

using namespace internal;

PortManager::PortManager() : PortManager(Options{}) {}

PortManager::PortManager(Options options) : m_options(std::move(options)) {}

PortManager::~PortManager() = default;

void PortManager::refresh()
{
    m_entries.clear();
    if (m_options.synthesizer)
        m_entries.push_back({SynthPort::makeCaps(), [this](const PortParams& params) {
                                 SynthOptions synth;
                                 synth.mode = m_options.synthOutput == SynthOutput::Device
                                                  ? AudioMode::Device
                                              : m_options.synthOutput == SynthOutput::SilentSink
                                                  ? AudioMode::SilentSink
                                                  : AudioMode::Offline;
                                 synth.sampleRate = m_options.sampleRate;
                                 synth.reverb = params.reverb;
                                 synth.soundFont = m_options.soundFont;
                                 synth.soundFontFolder = m_options.soundFontFolder;
                                 return std::unique_ptr<Port>(std::make_unique<SynthPort>(synth));
                             }});
    if (m_options.alsa) {
        if (auto sequencer = openAlsaSequencer("Brisolde")) {
            for (const SequencerPortInfo& info : sequencer->ports()) {
                m_entries.push_back(
                    {AlsaPort::capsFor(info), [info](const PortParams&) {
                         // Each port gets a client of its own, so that
                         // its queue and output are its alone.
                         auto backend = openAlsaSequencer("Brisolde");
                         if (!backend)
                             return std::unique_ptr<Port>();
                         // Client numbers change when a device comes
                         // back: find the port by its names again.
                         for (const SequencerPortInfo& now : backend->ports()) {
                             if (AlsaPort::idFor(now) == AlsaPort::idFor(info))
                                 return std::unique_ptr<Port>(
                                     std::make_unique<AlsaPort>(std::move(backend), now));
                         }
                         return std::unique_ptr<Port>();
                     }});
            }
        }
    }
    for (const Entry& entry : m_testEntries)
        m_entries.push_back(entry);
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
        if (entry.caps.id == id && entry.caps.portClass == PortClass::Output)
            return entry.make(params);
    }
    return nullptr;
}

void PortManager::addTestPort(const PortCaps& caps, std::function<std::unique_ptr<Port>()> make)
{
    m_testEntries.push_back({caps, [make = std::move(make)](const PortParams&) {
                                 return make();
                             }});
}

} // namespace music
