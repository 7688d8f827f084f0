#include "audiooutput.h"

#include "crashstack.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace music::internal {
namespace {

// FluidSynth reports why a driver failed through its log; collect those
// messages while a driver is being opened, drop them otherwise (the audio
// thread must not allocate).
thread_local std::string* t_capture = nullptr;

// libasound prints its own errors to the terminal when FluidSynth's alsa
// driver finds no device; that is an expected outcome here, not news.
void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void logToCapture(int, const char* message, void*)
{
    if (t_capture && message) {
        if (!t_capture->empty())
            *t_capture += "; ";
        *t_capture += message;
    }
}

} // namespace

void installFluidSynthLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(quietAlsaErrors);
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, logToCapture, nullptr);
    });
}

FluidLogCapture::FluidLogCapture() : m_previous(t_capture)
{
    installFluidSynthLog();
    t_capture = &m_messages;
}

FluidLogCapture::~FluidLogCapture()
{
    t_capture = m_previous;
}

namespace {

class FluidAudioOutput final : public AudioOutput
{
public:
    FluidAudioOutput(const char* name, fluid_audio_driver_t* driver)
        : m_name(name), m_driver(driver)
    {
    }
    ~FluidAudioOutput() override { delete_fluid_audio_driver(m_driver); }
    const char* name() const override { return m_name; }

    static int callback(void* data, int len, int, float*[], int nout, float* out[])
    {
        // FluidSynth started this thread: its first call gives it the stack.
        crashstack::prepareThisThread();
        if (nout < 2)
            return FLUID_FAILED;
        static_cast<AudioSource*>(data)->renderAudio(out[0], out[1], len);
        return FLUID_OK;
    }

private:
    const char* m_name;
    fluid_audio_driver_t* m_driver;
};

AudioOutputOutcome createFluid(const char* name, AudioSource& source, fluid_settings_t* settings)
{
    FluidLogCapture log;
    fluid_settings_setstr(settings, "audio.driver", name);
    fluid_audio_driver_t* driver =
        new_fluid_audio_driver2(settings, &FluidAudioOutput::callback, &source);
    if (!driver)
        return Status(Result::Failed,
                      std::string(name) + ": " +
                          (log.messages().empty() ? std::string("cannot start") : log.messages()));
    return std::unique_ptr<AudioOutput>(std::make_unique<FluidAudioOutput>(name, driver));
}

AudioOutputOutcome createJack(const char* name, AudioSource& source, fluid_settings_t* settings)
{
    // Use a JACK server that runs; never start one behind the user's back.
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    return createFluid(name, source, settings);
}

// Renders in blocks at the pace of the monotonic clock, so that positions,
// ends of pieces and directory play behave as with a sound card. While its
// source is idle it sleeps on an eventfd until woken, then goes on at the
// pace of the clock from the moment it wakes.
class SilentSink final : public AudioOutput
{
public:
    SilentSink(AudioSource& source, int sampleRate)
        : m_source(source), m_sampleRate(sampleRate),
          m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        m_thread = std::thread([this] {
            crashstack::prepareThisThread();
            run();
        });
    }
    ~SilentSink() override
    {
        m_stop.store(true);
        wake();
        m_thread.join();
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
    }
    const char* name() const override { return "silent"; }
    void wake() override
    {
        const std::uint64_t one = 1;
        if (m_wakeFd >= 0) {
            [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
        }
    }

private:
    static constexpr int kBlock = 512;

    void run()
    {
        std::vector<float> left(kBlock);
        std::vector<float> right(kBlock);
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        long long rendered = 0;
        while (!m_stop.load(std::memory_order_relaxed)) {
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
            m_source.renderAudio(left.data(), right.data(), kBlock);
            rendered += kBlock;
            if (m_wakeFd >= 0 && m_source.beginSleep()) {
                pollfd wait{m_wakeFd, POLLIN, 0};
                while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
                }
                std::uint64_t count = 0;
                [[maybe_unused]] const auto taken = ::read(m_wakeFd, &count, sizeof count);
                m_source.endSleep();
                clock_gettime(CLOCK_MONOTONIC, &start);
                rendered = 0;
                continue;
            }
            // Sleep until the moment the rendered audio would have finished playing.
            const long long ns = rendered * 1000000000LL / m_sampleRate;
            timespec due{};
            due.tv_sec = start.tv_sec + time_t((start.tv_nsec + ns) / 1000000000LL);
            due.tv_nsec = long((start.tv_nsec + ns) % 1000000000LL);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
            }
        }
    }

    AudioSource& m_source;
    int m_sampleRate;
    int m_wakeFd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

AudioOutputOutcome createSilent(const char*, AudioSource& source, fluid_settings_t* settings)
{
    double rate = 44100.0;
    fluid_settings_getnum(settings, "synth.sample-rate", &rate);
    return std::unique_ptr<AudioOutput>(std::make_unique<SilentSink>(source, int(rate)));
}

constexpr std::array kDrivers{
    AudioDriver{"pulseaudio", createFluid}, AudioDriver{"alsa", createFluid},
    AudioDriver{"jack", createJack},        AudioDriver{"sdl2", createFluid},
    AudioDriver{"silent", createSilent},
};

} // namespace

AudioSource::~AudioSource() = default;
AudioOutput::~AudioOutput() = default;

std::span<const AudioDriver> audioDrivers()
{
    return kDrivers;
}

AudioOutputOutcome openAudioOutput(AudioSource& source, fluid_settings_t* settings)
{
    std::string reasons;
    for (const AudioDriver& driver : kDrivers) {
        AudioOutputOutcome output = driver.create(driver.name, source, settings);
        if (output)
            return output;
        reasons += (reasons.empty() ? "" : "\n") + output.reason();
    }
    return Status(Result::Failed, reasons);
}

std::unique_ptr<AudioOutput> openSilentSink(AudioSource& source, int sampleRate)
{
    return std::make_unique<SilentSink>(source, sampleRate);
}

} // namespace music::internal
