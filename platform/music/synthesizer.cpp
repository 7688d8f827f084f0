#include "synthesizer.h"

#include "internal/synthport.h"

namespace music {

std::unique_ptr<Synthesizer> makeSynthesizer(const SynthesizerOptions& options)
{
    internal::SynthOptions synth;
    synth.mode = options.output == SynthOutput::Device       ? internal::AudioMode::Device
                 : options.output == SynthOutput::SilentSink ? internal::AudioMode::SilentSink
                                                             : internal::AudioMode::Offline;
    synth.sampleRate = options.sampleRate;
    synth.reverb = options.reverb;
    synth.chorus = options.chorus;
    synth.cpuCores = options.cpuCores;
    synth.soundFont = options.soundFont;
    synth.soundFontFolder = options.soundFontFolder;
    return std::make_unique<internal::SynthPort>(synth);
}

} // namespace music
