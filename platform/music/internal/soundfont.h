// The General MIDI SoundFont behind the built-in synthesizer: where it is
// found, and the store that reads it and keeps in memory the samples of the
// instruments that pieces need.
//
// The file is read on the store's worker thread, so that whoever makes the
// port never waits for it, and only its instrument headers are read then
// (FluidSynth's dynamic sample loading). The samples of an instrument come
// into memory when a piece about to play needs it (prepare(), on the worker)
// and leave again once no piece needs it and no voice can sound it (trim(),
// on the worker too), so the memory in use follows what is played.
//
// The synthesizer never sees the file's own SoundFont. It holds a SoundFont
// of ours (font()), put on its stack once before any audio runs, which
// offers exactly the instruments prepared for the piece, and only while they
// are available (setAvailable()); their notes start voices from the file's
// instruments. So the synthesizer's stack never changes while audio runs, and
// sample data are read and freed only on the worker.
//
// Threads: the owner calls load(), waitUntilLoaded(), prepare() and trim();
// they may wait for the worker, which never waits for the audio thread. The
// audio thread reaches the store only through FluidSynth's calls into font()
// and through setAvailable(): lookups in a table that does not change once
// published, and atomic flags; it never blocks, allocates or frees here. The
// worker alone touches the file's SoundFont and the synthesizer holding it.
#pragma once

#include "port.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

struct _fluid_hashtable_t;
typedef struct _fluid_hashtable_t fluid_settings_t;
struct _fluid_synth_t;
typedef struct _fluid_synth_t fluid_synth_t;
struct _fluid_sfont_t;
typedef struct _fluid_sfont_t fluid_sfont_t;
struct _fluid_preset_t;
typedef struct _fluid_preset_t fluid_preset_t;

namespace music::internal {

// Candidate SoundFonts in the order they are tried: default-GM.sf2,
// FluidR3_GM.sf2 and TimGM6mb.sf2 in `folder`, then any other .sf2 or .sf3
// there, by name. Only files that exist are listed.
std::vector<std::string> soundFontCandidates(const std::string& folder = "/usr/share/sounds/sf2");

class SoundFontStore
{
public:
    explicit SoundFontStore(int sampleRate);
    ~SoundFontStore();
    SoundFontStore(const SoundFontStore&) = delete;
    SoundFontStore& operator=(const SoundFontStore&) = delete;

    // Starts reading the first of `candidates` that reads well, on the
    // worker; with no candidates, `noneFound` is the reason there is none.
    void load(std::vector<std::string> candidates, const std::string& noneFound);
    // Waits until the reading is over: Ok, or Failed saying why.
    Status waitUntilLoaded() const;
    // The file read; empty until it has been.
    std::string path() const;

    // Brings into memory the samples of the presets the synthesizer chooses
    // for `instruments` (with its own fallbacks for those the SoundFont
    // lacks) and from then on offers exactly those. Waits until done; fails
    // (saying why) only when there is no SoundFont.
    Status prepare(std::span<const Instrument> instruments);
    // Frees, on the worker, the samples of the presets no longer offered, as
    // soon as `quiet()` says that no voice can be sounding them any more (it
    // is asked again every second until then, or until the next prepare()).
    void trim(std::function<bool()> quiet);
    // Presets whose samples are in memory now.
    std::size_t presetsInMemory() const;
    // Ends the worker (waiting for what it is doing), before the playing
    // synthesizer goes: nothing may change samples while it frees its voices.
    void stopWorker();

    // The SoundFont to put on the synthesizer's stack, once, before audio runs.
    fluid_sfont_t* font() const { return m_font; }
    // Audio thread: whether the offered presets may be chosen at all.
    void setAvailable(bool available) { m_available.store(available, std::memory_order_release); }

private:
    struct Preset
    {
        SoundFontStore* store = nullptr;
        int bank = 0;
        int program = 0;
        fluid_preset_t* inner = nullptr; // the file's, on the worker's synthesizer
        fluid_preset_t* outer = nullptr; // ours, on the playing synthesizer
        std::atomic<bool> offered{false};
        bool pinned = false; // worker only: its samples are in memory
    };
    enum class State
    {
        Idle,
        Loading,
        Loaded,
        Failed
    };

    // FluidSynth's calls into our SoundFont and its presets.
    static const char* fontName(fluid_sfont_t* font);
    static fluid_preset_t* fontPreset(fluid_sfont_t* font, int bank, int program);
    static void fontIterationStart(fluid_sfont_t* font);
    static fluid_preset_t* fontIterationNext(fluid_sfont_t* font);
    static int fontFree(fluid_sfont_t* font);
    static const char* presetName(fluid_preset_t* preset);
    static int presetBank(fluid_preset_t* preset);
    static int presetProgram(fluid_preset_t* preset);
    static int presetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int channel, int key,
                            int velocity);
    static void presetFree(fluid_preset_t* preset);

    Preset* find(int bank, int program) const;
    Preset* chosenFor(const Instrument& instrument);
    void runWorker();
    void read(const std::vector<std::string>& candidates);
    void pinFor(const std::vector<Instrument>& instruments);
    bool unpinUnoffered();

    int m_sampleRate;
    fluid_sfont_t* m_font = nullptr;
    std::atomic<bool> m_available{false};
    // Filled by the worker, then published through m_ready; fixed from then on.
    std::vector<std::unique_ptr<Preset>> m_presets;
    std::atomic<bool> m_ready{false};
    std::size_t m_iteration = 0;            // FluidSynth's walk through our presets
    unsigned m_voiceGroup = 0;              // audio thread: one voice group per note
    fluid_settings_t* m_settings = nullptr; // worker
    fluid_synth_t* m_library = nullptr;     // worker: holds the file's SoundFont
    int m_libraryFontId = -1;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    State m_state = State::Idle;
    std::string m_problem;
    std::string m_path;
    std::deque<std::function<void()>> m_jobs;
    std::function<bool()> m_trimWhenQuiet;
    std::size_t m_pinned = 0;
    bool m_stop = false;
    std::thread m_worker;
};

} // namespace music::internal
