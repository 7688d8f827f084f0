#include "soundfont.h"

#include "audiooutput.h"
#include "crashstack.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>
#include <tuple>

namespace music::internal {

std::vector<std::string> soundFontCandidates(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    auto addIfFile = [&found](const fs::path& path) {
        std::error_code error;
        if (fs::is_regular_file(path, error) &&
            std::find(found.begin(), found.end(), path.string()) == found.end())
            found.push_back(path.string());
    };
    for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"})
        addIfFile(fs::path(folder) / name);

    std::vector<fs::path> others;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (ext == ".sf2" || ext == ".sf3")
            others.push_back(it->path());
    }
    std::sort(others.begin(), others.end());
    for (const fs::path& path : others)
        addIfFile(path);
    return found;
}

namespace {

// FluidSynth's bank of percussion instruments.
constexpr int kPercussionBank = 128;

} // namespace

SoundFontStore::SoundFontStore(int sampleRate) : m_sampleRate(sampleRate)
{
    m_font = new_fluid_sfont(fontName, fontPreset, fontIterationStart, fontIterationNext, fontFree);
    if (m_font)
        fluid_sfont_set_data(m_font, this);
}

void SoundFontStore::stopWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        if (m_state == State::Loading) {
            m_state = State::Failed;
            m_problem = "the SoundFont was not read";
        }
    }
    m_changed.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

SoundFontStore::~SoundFontStore()
{
    stopWorker();
    // The playing synthesizer is gone by now: nothing sounds our presets.
    for (const auto& preset : m_presets)
        delete_fluid_preset(preset->outer);
    if (m_font)
        delete_fluid_sfont(m_font);
    // Takes the file's SoundFont and every sample in memory with it.
    if (m_library)
        delete_fluid_synth(m_library);
    if (m_settings)
        delete_fluid_settings(m_settings);
}

void SoundFontStore::runWorker()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_jobs.empty()) {
            auto job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
            continue;
        }
        if (m_trimWhenQuiet) {
            auto quiet = m_trimWhenQuiet;
            lock.unlock();
            const bool done = !quiet() ? false : unpinUnoffered();
            lock.lock();
            if (done)
                m_trimWhenQuiet = nullptr;
            else
                m_changed.wait_for(lock, std::chrono::seconds(1));
            continue;
        }
        m_changed.wait(lock);
    }
}

void SoundFontStore::load(std::vector<std::string> candidates, const std::string& noneFound)
{
    std::lock_guard lock(m_mutex);
    if (candidates.empty()) {
        m_state = State::Failed;
        m_problem = noneFound;
        return;
    }
    m_state = State::Loading;
    m_jobs.push_back([this, candidates = std::move(candidates)] { read(candidates); });
    if (!m_worker.joinable())
        m_worker = std::thread([this] {
            crashstack::prepareThisThread();
            runWorker();
        });
    m_changed.notify_all();
}

void SoundFontStore::read(const std::vector<std::string>& candidates)
{
    installFluidSynthLog();
    m_settings = new_fluid_settings();
    if (m_settings) {
        fluid_settings_setnum(m_settings, "synth.sample-rate", double(m_sampleRate));
        // Samples are read per instrument, when pinned.
        fluid_settings_setint(m_settings, "synth.dynamic-sample-loading", 1);
        // This synthesizer only holds the SoundFont: it never plays.
        fluid_settings_setint(m_settings, "synth.polyphony", 1);
        fluid_settings_setint(m_settings, "synth.reverb.active", 0);
        fluid_settings_setint(m_settings, "synth.chorus.active", 0);
        fluid_settings_setint(m_settings, "synth.cpu-cores", 1);
        m_library = new_fluid_synth(m_settings);
    }
    std::string errors;
    std::string path;
    for (const std::string& candidate : candidates) {
        if (!m_library)
            break;
        FluidLogCapture log;
        const int id = fluid_synth_sfload(m_library, candidate.c_str(), 0);
        if (id != FLUID_FAILED) {
            m_libraryFontId = id;
            path = candidate;
            break;
        }
        errors += (errors.empty() ? "" : "; ") + ("cannot read the SoundFont " + candidate);
    }
    if (m_libraryFontId >= 0) {
        fluid_sfont_t* file = fluid_synth_get_sfont_by_id(m_library, m_libraryFontId);
        fluid_sfont_iteration_start(file);
        while (fluid_preset_t* inner = fluid_sfont_iteration_next(file)) {
            auto preset = std::make_unique<Preset>();
            preset->store = this;
            preset->bank = fluid_preset_get_banknum(inner);
            preset->program = fluid_preset_get_num(inner);
            preset->inner = inner;
            preset->outer = new_fluid_preset(m_font, presetName, presetBank, presetProgram,
                                             presetNoteOn, presetFree);
            if (!preset->outer)
                continue;
            fluid_preset_set_data(preset->outer, preset.get());
            m_presets.push_back(std::move(preset));
        }
        std::sort(m_presets.begin(), m_presets.end(), [](const auto& a, const auto& b) {
            return std::tie(a->bank, a->program) < std::tie(b->bank, b->program);
        });
        m_ready.store(true, std::memory_order_release);
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_stop) {
            // Given up already.
        } else if (m_libraryFontId >= 0) {
            m_state = State::Loaded;
            m_path = path;
        } else {
            m_state = State::Failed;
            m_problem = m_library ? errors : "the synthesizer could not be created";
        }
    }
    m_changed.notify_all();
}

Status SoundFontStore::waitUntilLoaded() const
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_state != State::Loading; });
    if (m_state == State::Loaded)
        return Result::Ok;
    return {Result::Failed,
            m_state == State::Idle ? std::string("no SoundFont was asked for") : m_problem};
}

std::string SoundFontStore::path() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

SoundFontStore::Preset* SoundFontStore::find(int bank, int program) const
{
    const auto it = std::lower_bound(m_presets.begin(), m_presets.end(), std::pair(bank, program),
                                     [](const auto& p, const std::pair<int, int>& key) {
                                         return std::pair(p->bank, p->program) < key;
                                     });
    return it != m_presets.end() && (*it)->bank == bank && (*it)->program == program ? it->get()
                                                                                     : nullptr;
}

SoundFontStore::Preset* SoundFontStore::chosenFor(const Instrument& instrument)
{
    // What the synthesizer chooses for a program change: the preset itself,
    // else on the percussion channel the standard kit, else the same program
    // in bank 0, else the first preset of bank 0.
    Preset* chosen = nullptr;
    if (instrument.percussion) {
        chosen = find(kPercussionBank, instrument.program);
        if (!chosen)
            chosen = find(kPercussionBank, 0);
    } else {
        chosen = find(instrument.bank, instrument.program);
        if (!chosen)
            chosen = find(0, instrument.program);
        if (!chosen)
            chosen = find(0, 0);
    }
    return chosen;
}

Status SoundFontStore::prepare(std::span<const Instrument> instruments)
{
    if (Status loaded = waitUntilLoaded(); !loaded.ok())
        return loaded;
    auto done = std::make_shared<std::promise<void>>();
    auto ready = done->get_future();
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return {Result::Failed, "the SoundFont's worker has ended"};
        m_jobs.push_back(
            [this, wanted = std::vector<Instrument>(instruments.begin(), instruments.end()), done] {
                pinFor(wanted);
                done->set_value();
            });
    }
    m_changed.notify_all();
    ready.wait();
    return Result::Ok;
}

void SoundFontStore::pinFor(const std::vector<Instrument>& instruments)
{
    {
        // A trim asked for before judged quiet against the presets offered then.
        std::lock_guard lock(m_mutex);
        m_trimWhenQuiet = nullptr;
    }
    std::vector<Preset*> wanted;
    for (const Instrument& instrument : instruments) {
        Preset* preset = chosenFor(instrument);
        if (!preset || std::find(wanted.begin(), wanted.end(), preset) != wanted.end())
            continue;
        if (!preset->pinned) {
            FluidLogCapture log; // a sample that cannot be read only leaves the preset silent
            preset->pinned = fluid_synth_pin_preset(m_library, m_libraryFontId, preset->bank,
                                                    preset->program) == FLUID_OK;
        }
        if (preset->pinned)
            wanted.push_back(preset);
    }
    std::size_t pinned = 0;
    for (const auto& preset : m_presets) {
        // Whoever sees the preset offered sees its samples in memory; the
        // order with the audio thread's steps is sequentially consistent
        // (see SynthPort::download()).
        preset->offered.store(std::find(wanted.begin(), wanted.end(), preset.get()) != wanted.end(),
                              std::memory_order_seq_cst);
        pinned += preset->pinned ? 1 : 0;
    }
    std::lock_guard lock(m_mutex);
    m_pinned = pinned;
}

void SoundFontStore::trim(std::function<bool()> quiet)
{
    {
        std::lock_guard lock(m_mutex);
        m_trimWhenQuiet = std::move(quiet);
    }
    m_changed.notify_all();
}

bool SoundFontStore::unpinUnoffered()
{
    std::size_t pinned = 0;
    for (const auto& preset : m_presets) {
        if (preset->pinned && !preset->offered.load(std::memory_order_relaxed)) {
            fluid_synth_unpin_preset(m_library, m_libraryFontId, preset->bank, preset->program);
            preset->pinned = false;
        }
        pinned += preset->pinned ? 1 : 0;
    }
    std::lock_guard lock(m_mutex);
    m_pinned = pinned;
    return true;
}

std::size_t SoundFontStore::presetsInMemory() const
{
    std::lock_guard lock(m_mutex);
    return m_pinned;
}

// FluidSynth's calls, on the audio thread (and on the owner's while the
// synthesizer is made or destroyed, before and after any audio).

const char* SoundFontStore::fontName(fluid_sfont_t*)
{
    return "Brisolde General MIDI";
}

fluid_preset_t* SoundFontStore::fontPreset(fluid_sfont_t* font, int bank, int program)
{
    const auto* store = static_cast<const SoundFontStore*>(fluid_sfont_get_data(font));
    if (!store->m_available.load(std::memory_order_acquire) ||
        !store->m_ready.load(std::memory_order_acquire))
        return nullptr;
    const Preset* preset = store->find(bank, program);
    return preset && preset->offered.load(std::memory_order_seq_cst) ? preset->outer : nullptr;
}

void SoundFontStore::fontIterationStart(fluid_sfont_t* font)
{
    static_cast<SoundFontStore*>(fluid_sfont_get_data(font))->m_iteration = 0;
}

fluid_preset_t* SoundFontStore::fontIterationNext(fluid_sfont_t* font)
{
    auto* store = static_cast<SoundFontStore*>(fluid_sfont_get_data(font));
    if (!store->m_ready.load(std::memory_order_acquire))
        return nullptr;
    while (store->m_iteration < store->m_presets.size()) {
        const Preset& preset = *store->m_presets[store->m_iteration++];
        if (preset.offered.load(std::memory_order_acquire))
            return preset.outer;
    }
    return nullptr;
}

int SoundFontStore::fontFree(fluid_sfont_t*)
{
    // Ours to free, after the synthesizer.
    return 0;
}

const char* SoundFontStore::presetName(fluid_preset_t* preset)
{
    return fluid_preset_get_name(static_cast<Preset*>(fluid_preset_get_data(preset))->inner);
}

int SoundFontStore::presetBank(fluid_preset_t* preset)
{
    return static_cast<Preset*>(fluid_preset_get_data(preset))->bank;
}

int SoundFontStore::presetProgram(fluid_preset_t* preset)
{
    return static_cast<Preset*>(fluid_preset_get_data(preset))->program;
}

int SoundFontStore::presetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int channel, int key,
                                 int velocity)
{
    auto* ours = static_cast<Preset*>(fluid_preset_get_data(preset));
    // A preset chosen on a channel before it was taken away sounds no more.
    if (!ours->offered.load(std::memory_order_seq_cst))
        return FLUID_OK;
    // The file's preset makes the voices from its samples, which are in
    // memory while it is offered; each note gets a voice group of its own.
    return fluid_synth_start(synth, ++ours->store->m_voiceGroup, ours->inner, 0, channel, key,
                             velocity);
}

void SoundFontStore::presetFree(fluid_preset_t*)
{
    // Ours to free, with the store.
}

} // namespace music::internal
