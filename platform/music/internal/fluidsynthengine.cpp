#include "fluidsynthengine.h"

#include "audiooutput.h"

#include <fluidsynth.h>

namespace music::internal {

FluidSynthEngine::FluidSynthEngine(const EngineSettings& settings, fluid_sfont_t* font)
    : m_sampleRate(settings.sampleRate)
{
    installFluidSynthLog();
    m_settings = new_fluid_settings();
    if (!m_settings)
        return;
    fluid_settings_setnum(m_settings, "synth.sample-rate", double(settings.sampleRate));
    fluid_settings_setint(m_settings, "synth.polyphony", settings.polyphony);
    fluid_settings_setint(m_settings, "synth.reverb.active", settings.reverb ? 1 : 0);
    fluid_settings_setint(m_settings, "synth.chorus.active", settings.chorus ? 1 : 0);
    // Only the audio thread uses the synthesizer, so it needs no lock of its own.
    fluid_settings_setint(m_settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(m_settings, "synth.cpu-cores", settings.cpuCores);
    m_synth = new_fluid_synth(m_settings);
    if (m_synth && font && fluid_synth_add_sfont(m_synth, font) == FLUID_FAILED) {
        delete_fluid_synth(m_synth);
        m_synth = nullptr;
    }
}

FluidSynthEngine::~FluidSynthEngine()
{
    if (m_synth)
        delete_fluid_synth(m_synth);
    if (m_settings)
        delete_fluid_settings(m_settings);
}

void FluidSynthEngine::resetPrograms()
{
    fluid_synth_program_reset(m_synth);
}

int FluidSynthEngine::activeVoices() const
{
    return fluid_synth_get_active_voice_count(m_synth);
}

void FluidSynthEngine::setReverb(bool on)
{
    // The whole effects pass (deprecated, and the only call that switches it),
    // then the reverb units themselves.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    fluid_synth_set_reverb_on(m_synth, on ? 1 : 0);
#pragma GCC diagnostic pop
    fluid_synth_reverb_on(m_synth, -1, on ? 1 : 0);
}

void FluidSynthEngine::handle(const std::uint8_t* message, std::size_t length)
{
    if (length == 0)
        return;
    const int status = message[0];
    const int channel = status & 0x0F;
    const int data1 = length > 1 ? message[1] & 0x7F : 0;
    const int data2 = length > 2 ? message[2] & 0x7F : 0;
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(m_synth, channel, data1);
        break;
    case 0x90:
        if (data2 == 0)
            fluid_synth_noteoff(m_synth, channel, data1);
        else
            fluid_synth_noteon(m_synth, channel, data1, data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(m_synth, channel, data1, data2);
        break;
    case 0xB0:
        fluid_synth_cc(m_synth, channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(m_synth, channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(m_synth, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(m_synth, channel, data1 | (data2 << 7));
        break;
    case 0xF0:
        // FluidSynth takes the body of a system exclusive message, without F0 and F7.
        if (status == 0xF0 && length >= 2) {
            const std::size_t end = message[length - 1] == 0xF7 ? length - 1 : length;
            fluid_synth_sysex(m_synth, reinterpret_cast<const char*>(message + 1), int(end - 1),
                              nullptr, nullptr, nullptr, 0);
        } else if (status == 0xFF) {
            fluid_synth_system_reset(m_synth);
        }
        break;
    default:
        break;
    }
}

void FluidSynthEngine::render(float* left, float* right, int frames)
{
    // Without effects buffers of their own, reverb and chorus are mixed into the dry output.
    float* fx[4] = {left, right, left, right};
    float* out[2] = {left, right};
    fluid_synth_process(m_synth, frames, 4, fx, 2, out);
}

} // namespace music::internal
