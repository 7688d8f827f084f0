#include "synthport.h"

#include "crashstack.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace music::internal {
namespace {

constexpr std::size_t kMaxMessage = 1 << 16;

std::int64_t monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Generations count up and may wrap; compare them by their difference.
bool older(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(a - b) < 0;
}

} // namespace

SynthPort::SynthPort(const SynthOptions& options)
    : m_caps(makeCaps()), m_mode(options.mode), m_store(options.sampleRate),
      m_sampleRate(options.sampleRate), m_scratch(kMaxMessage), m_polyphony(options.polyphony),
      m_quietStepsToIdle(options.sampleRate / 10 / kStep)
{
    const EngineSettings settings{options.sampleRate, options.polyphony, options.reverb,
                                  options.chorus, options.cpuCores};
    // Offline the caller renders at once; in real time nobody waits for the
    // synthesizer to be made.
    if (m_mode == AudioMode::Offline)
        startEngine(settings, options.reverb);
    else
        m_starter = std::thread([this, settings, reverb = options.reverb] {
            crashstack::prepareThisThread();
            startEngine(settings, reverb);
        });
    const std::vector<std::string> candidates = options.soundFont.empty()
                                                    ? soundFontCandidates(options.soundFontFolder)
                                                    : std::vector<std::string>{options.soundFont};
    m_store.load(candidates, "no General MIDI SoundFont in " + options.soundFontFolder +
                                 " (install timgm6mb-soundfont or fluid-soundfont-gm)");
}

SynthPort::~SynthPort()
{
    if (m_starter.joinable())
        m_starter.join();
    {
        std::lock_guard lock(m_producer);
        m_output.reset();
    }
    m_store.stopWorker();
}

void SynthPort::startEngine(const EngineSettings& settings, bool reverb)
{
    auto engine = std::make_unique<FluidSynthEngine>(settings, m_store.font());
    if (engine->isValid())
        engine->setReverb(reverb);
    else
        engine.reset();
    std::lock_guard lock(m_producer);
    m_engine = std::move(engine);
    m_started = true;
    if (m_engine && m_wantActive)
        openOutputLocked();
    m_startedChanged.notify_all();
}

void SynthPort::waitStartedLocked(std::unique_lock<std::mutex>& lock) const
{
    m_startedChanged.wait(lock, [this] { return m_started; });
}

void SynthPort::openOutputLocked()
{
    switch (m_mode) {
    case AudioMode::Device: {
        // The silent sink at the end of the table always starts.
        AudioOutputOutcome output = openAudioOutput(*this, m_engine->settings());
        if (output)
            m_output = std::move(output).value();
        break;
    }
    case AudioMode::SilentSink:
        m_output = openSilentSink(*this, m_sampleRate);
        break;
    case AudioMode::Offline:
        break;
    }
    m_active = m_mode == AudioMode::Offline || m_output;
}

PortCaps SynthPort::makeCaps()
{
    PortCaps caps;
    caps.id = kId;
    caps.description = kDescription;
    caps.portClass = PortClass::Output;
    caps.downloadsInstruments = true;
    caps.reverb = true;
    return caps;
}

Result SynthPort::activate(bool on)
{
    std::lock_guard lock(m_producer);
    if (!m_started) {
        // The synthesizer is still being made: it opens the output then.
        m_wantActive = on;
        return Result::Ok;
    }
    if (!m_engine)
        return Result::Failed;
    if (on == m_active)
        return Result::Ok;
    if (!on) {
        m_output.reset();
        m_active = false;
        return Result::Ok;
    }
    openOutputLocked();
    return m_active ? Result::Ok : Result::Failed;
}

bool SynthPort::isActive() const
{
    std::lock_guard lock(m_producer);
    return m_started ? m_active : m_wantActive;
}

std::string SynthPort::outputName() const
{
    std::unique_lock lock(m_producer);
    waitStartedLocked(lock);
    return m_output ? m_output->name() : std::string();
}

std::int64_t SynthPort::now() const
{
    // The time first, then whether the sink sleeps (see endSleep()).
    const std::int64_t wall = monotonicNanoseconds();
    const std::int64_t origin = m_sleepOrigin.load(std::memory_order_acquire);
    if (origin != kAwake)
        return (wall - origin) / 1000;
    return framesRendered() * 1000000 / m_sampleRate;
}

void SynthPort::notifyAudio()
{
    // See beginSleep(): we have pushed, now we look.
    m_handshake.fetch_add(1, std::memory_order_acq_rel);
    if (m_sleepOrigin.load(std::memory_order_relaxed) != kAwake && m_output)
        m_output->wake();
}

bool SynthPort::pushBytes(SpscQueue<std::uint8_t>& queue, std::span<const std::uint8_t> bytes)
{
    if (queue.capacity() - queue.size() < bytes.size())
        return false;
    for (std::uint8_t byte : bytes)
        queue.push(byte);
    return true;
}

Result SynthPort::schedule(std::int64_t time, std::span<const std::uint8_t> message)
{
    if (message.empty() || message.size() > kMaxMessage)
        return Result::NotSupported;
    std::lock_guard lock(m_producer);
    Message entry{};
    entry.frame = (time * m_sampleRate + 500000) / 1000000;
    // Messages leave in queue order; one that arrives late still keeps its place.
    entry.frame = std::max(entry.frame, m_lastScheduledFrame);
    entry.generation = m_generation;
    entry.length = std::uint32_t(message.size());
    if (message.size() <= entry.bytes.size())
        std::copy(message.begin(), message.end(), entry.bytes.begin());
    else if (!pushBytes(m_messageBytes, message))
        return Result::Failed;
    if (!m_messages.push(entry))
        return Result::Failed;
    m_lastScheduledFrame = entry.frame;
    notifyAudio();
    return Result::Ok;
}

bool SynthPort::pushCommand(Command command, std::span<const std::uint8_t> message)
{
    CommandMessage entry{};
    entry.command = command;
    entry.generation = m_generation;
    entry.length = std::uint32_t(message.size());
    if (message.size() <= entry.bytes.size())
        std::copy(message.begin(), message.end(), entry.bytes.begin());
    else if (!pushBytes(m_commandBytes, message))
        return false;
    if (!m_commands.push(entry))
        return false;
    notifyAudio();
    return true;
}

Result SynthPort::sendNow(std::span<const std::uint8_t> message)
{
    if (message.empty() || message.size() > kMaxMessage)
        return Result::Failed;
    std::lock_guard lock(m_producer);
    return pushCommand(Command::Send, message) ? Result::Ok : Result::Failed;
}

void SynthPort::silence()
{
    std::lock_guard lock(m_producer);
    ++m_generation;
    m_lastScheduledFrame = 0;
    pushCommand(Command::Silence);
}

Status SynthPort::download(std::span<const Instrument> instruments)
{
    {
        std::unique_lock lock(m_producer);
        waitStartedLocked(lock);
        if (!m_engine)
            return {Result::Failed, "the software synthesizer could not be created"};
    }
    if (Status prepared = m_store.prepare(instruments); !prepared.ok())
        return prepared;
    {
        std::lock_guard lock(m_producer);
        if (!pushCommand(Command::Download))
            return {Result::Failed, "the synthesizer's command queue is full"};
        m_downloaded = true;
    }
    // The samples of instruments this piece does not play leave memory once
    // no voice can be sounding them. Their presets stopped being offered
    // before step `since` ended (sequentially consistent on both sides): from
    // step since + 2 on, the audio thread sees that, so no voice of theirs
    // starts; and an idle audio thread sounds nothing and sees it on waking.
    const std::uint64_t since = m_steps.load(std::memory_order_seq_cst);
    m_store.trim([this, since] {
        if (m_idlePublished.load(std::memory_order_seq_cst))
            return true;
        return m_steps.load(std::memory_order_seq_cst) >= since + 2 &&
               m_voices.load(std::memory_order_relaxed) == 0;
    });
    return Result::Ok;
}

Result SynthPort::unload()
{
    std::lock_guard lock(m_producer);
    if (!pushCommand(Command::Unload))
        return Result::Failed;
    m_downloaded = false;
    return Result::Ok;
}

bool SynthPort::isDownloaded() const
{
    std::lock_guard lock(m_producer);
    return m_downloaded;
}

Result SynthPort::setReverb(bool on)
{
    std::lock_guard lock(m_producer);
    return pushCommand(on ? Command::ReverbOn : Command::ReverbOff) ? Result::Ok : Result::Failed;
}

void SynthPort::renderOffline(float* left, float* right, int frames)
{
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    if (m_engine)
        renderAudio(left, right, frames);
}

// Audio thread from here on.

const std::uint8_t* SynthPort::takeBytes(SpscQueue<std::uint8_t>& queue, std::uint32_t length,
                                         const std::array<std::uint8_t, 16>& inlineBytes)
{
    if (length <= inlineBytes.size())
        return inlineBytes.data();
    for (std::uint32_t i = 0; i < length; ++i)
        queue.tryPop(m_scratch[i]);
    return m_scratch.data();
}

SynthPort::Counts SynthPort::counts() const
{
    return {m_noteOns.load(std::memory_order_relaxed), m_noteOffs.load(std::memory_order_relaxed),
            m_shedNoteOns.load(std::memory_order_relaxed)};
}

void SynthPort::play(const std::uint8_t* bytes, std::uint32_t length)
{
    const std::uint8_t kind = bytes[0] & 0xF0;
    if (length >= 3 && (kind == 0x80 || (kind == 0x90 && bytes[2] == 0)))
        m_noteOffs.store(m_noteOffs.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    else if (length >= 3 && kind == 0x90)
        m_noteOns.store(m_noteOns.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    m_engine->handle(bytes, length);
}

void SynthPort::silenceNow()
{
    for (const ControlMessage& message : silencingMessages())
        m_engine->handle(message.data(), message.size());
}

void SynthPort::drainCommands()
{
    CommandMessage command{};
    while (m_commands.tryPop(command)) {
        const std::uint8_t* bytes = takeBytes(m_commandBytes, command.length, command.bytes);
        switch (command.command) {
        case Command::Send:
            play(bytes, command.length);
            break;
        case Command::Silence:
            m_audioGeneration = command.generation;
            silenceNow();
            break;
        case Command::Download:
            m_store.setAvailable(true);
            m_engine->resetPrograms();
            break;
        case Command::Unload:
            m_store.setAvailable(false);
            m_engine->resetPrograms();
            break;
        case Command::ReverbOn:
            m_engine->setReverb(true);
            break;
        case Command::ReverbOff:
            m_engine->setReverb(false);
            break;
        }
    }
}

int SynthPort::renderSteps(float* left, float* right, int maxSteps)
{
    drainCommands();
    dispatchDue(m_nextStep + kStep / 2);
    const int steps = quietSteps(maxSteps);
    const int frames = steps * kStep;
    m_engine->render(left, right, frames);
    m_nextStep += frames;
    m_clockFrames.store(m_nextStep, std::memory_order_release);
    float peak = 0.0f;
    for (std::size_t i = 0; i < std::size_t(frames); ++i)
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    noteQuiet(peak, steps);
    // The voices first: whoever reads this step's number reads them too.
    m_voices.store(m_engine->activeVoices(), std::memory_order_relaxed);
    m_steps.store(m_steps.load(std::memory_order_relaxed) + std::uint64_t(steps),
                  std::memory_order_seq_cst);
    return steps;
}

int SynthPort::quietSteps(int maxSteps) const
{
    // This step, and the following ones before the next message is due or
    // a command may have to be carried out (each checked at a step's start).
    if (maxSteps <= 1 || m_commands.front())
        return 1;
    const Message* next = m_messages.front();
    if (!next)
        return maxSteps;
    if (next->generation != m_audioGeneration)
        return 1;
    // Due at the first step whose middle lies beyond it.
    const std::int64_t ahead = next->frame - (m_nextStep + kStep / 2);
    return ahead < 0 ? 1 : int(std::min<std::int64_t>(maxSteps, ahead / kStep + 1));
}

void SynthPort::dispatchDue(std::int64_t due)
{
    for (;;) {
        const Message* front = m_messages.front();
        if (!front)
            return;
        if (front->generation != m_audioGeneration) {
            // A newer message means its silence command is queued already.
            if (!older(front->generation, m_audioGeneration))
                drainCommands();
            if (older(front->generation, m_audioGeneration)) {
                // Silenced before its time came.
                takeBytes(m_messageBytes, front->length, front->bytes);
                m_messages.pop();
                continue;
            }
        }
        // The run of messages due before the middle of this step.
        std::size_t count = 0;
        while (const Message* message = m_messages.at(count)) {
            if (message->generation != m_audioGeneration || message->frame >= due)
                break;
            ++count;
        }
        if (count == 0)
            return;
        if (m_shedding)
            markShortNotes(count, due);
        for (std::size_t i = 0; i < count; ++i) {
            const Message* message = m_messages.front();
            if (!message)
                return;
            const std::uint8_t* bytes = takeBytes(m_messageBytes, message->length, message->bytes);
            if (!m_shedding || !shed(bytes, message->length, i))
                play(bytes, message->length);
            m_messages.pop();
        }
    }
}

void SynthPort::markShortNotes(std::size_t count, std::int64_t due)
{
    // Walks back from the last message due within a block after this step,
    // noting each key's next note off; a note on of this step whose note off
    // comes less than a block after it is short.
    ++m_markPass;
    std::size_t end = count;
    while (const Message* message = m_messages.at(end)) {
        if (message->generation != m_audioGeneration || message->frame >= due + kStep)
            break;
        ++end;
    }
    for (std::size_t i = end; i-- > 0;) {
        const Message* message = m_messages.at(i);
        if (!message)
            return;
        if (i < count)
            m_shortNotes.reset(i);
        if (message->length != 3)
            continue;
        const std::uint8_t kind = message->bytes[0] & 0xF0;
        if (kind != 0x80 && kind != 0x90)
            continue;
        NoteOffMark& off = m_noteOffMarks[std::size_t(message->bytes[0] & 0x0F) * 128 +
                                          (message->bytes[1] & 0x7F)];
        if (kind == 0x80 || message->bytes[2] == 0)
            off = {m_markPass, message->frame};
        else if (i < count && off.pass == m_markPass && off.frame - message->frame < kStep)
            m_shortNotes.set(i);
    }
}

bool SynthPort::shed(const std::uint8_t* bytes, std::uint32_t length, std::size_t index)
{
    // A short note on, while every voice is in use.
    if (length != 3 || (bytes[0] & 0xF0) != 0x90 || bytes[2] == 0 || index >= kQueueLength ||
        !m_shortNotes.test(index) || m_engine->activeVoices() < m_polyphony)
        return false;
    m_shedNoteOns.store(m_shedNoteOns.load(std::memory_order_relaxed) + 1,
                        std::memory_order_relaxed);
    return true;
}

void SynthPort::measureLoad(std::int64_t started, int frames)
{
    // Shedding starts when rendering takes 85 % of the time it may, and
    // stops below 60 %.
    const double spent = double(monotonicNanoseconds() - started);
    const double budget = double(frames) * 1e9 / m_sampleRate;
    m_load = 0.9f * m_load + 0.1f * float(spent / budget);
    if (m_load > 0.85f)
        m_shedding = true;
    else if (m_load < 0.6f)
        m_shedding = false;
}

bool SynthPort::workWaiting() const
{
    return m_messages.front() || m_commands.front();
}

void SynthPort::noteQuiet(float peak, int steps)
{
    // Half of the smallest step of 16-bit audio: such a tail is not heard.
    constexpr float kQuietLevel = 1.5e-5f;
    if (m_mode == AudioMode::Offline || peak >= kQuietLevel || m_engine->activeVoices() > 0 ||
        workWaiting()) {
        m_quietSteps = 0;
        return;
    }
    m_quietSteps += steps;
    if (m_quietSteps >= m_quietStepsToIdle && !m_idle) {
        m_idle = true;
        m_idlePublished.store(true, std::memory_order_seq_cst);
    }
}

void SynthPort::renderAudio(float* left, float* right, int frames)
{
    const std::int64_t started = m_mode == AudioMode::Offline ? 0 : monotonicNanoseconds();
    int done = 0;
    while (done < frames) {
        if (m_carryCount > 0) {
            // The rest of a step rendered for an earlier, shorter buffer.
            const int n = std::min(m_carryCount, frames - done);
            for (int i = 0; i < n; ++i) {
                left[done + i] += m_carryLeft[std::size_t(m_carryOffset + i)];
                right[done + i] += m_carryRight[std::size_t(m_carryOffset + i)];
            }
            m_carryOffset += n;
            m_carryCount -= n;
            done += n;
            continue;
        }
        if (m_idle) {
            if (!workWaiting()) {
                // Nothing sounds and nothing waits: the rest stays silent.
                m_nextStep += frames - done;
                m_clockFrames.store(m_nextStep, std::memory_order_release);
                m_load = 0.0f;
                m_shedding = false;
                return;
            }
            m_idle = false;
            m_quietSteps = 0;
            m_idlePublished.store(false, std::memory_order_seq_cst);
        }
        if (frames - done >= kStep) {
            // Whole steps straight into the buffer (which arrives zeroed).
            done += renderSteps(left + done, right + done, (frames - done) / kStep) * kStep;
            continue;
        }
        m_carryLeft.fill(0.0f);
        m_carryRight.fill(0.0f);
        renderSteps(m_carryLeft.data(), m_carryRight.data(), 1);
        m_carryOffset = 0;
        m_carryCount = kStep;
    }
    if (m_mode != AudioMode::Offline)
        measureLoad(started, frames);
}

bool SynthPort::beginSleep()
{
    if (!m_idle || m_carryCount != 0)
        return false;
    const std::int64_t rate = m_sampleRate;
    const std::int64_t sinceZero =
        m_nextStep / rate * 1000000000 + m_nextStep % rate * 1000000000 / rate;
    m_sleepOrigin.store(monotonicNanoseconds() - sinceZero, std::memory_order_seq_cst);
    // A producer pushes, then looks at the origin; we set the origin, then
    // look at the queues. Between, both sides pass the same read-modify-write:
    // whichever passes second sees what the first did before it.
    m_handshake.fetch_add(1, std::memory_order_acq_rel);
    if (workWaiting()) {
        m_sleepOrigin.store(kAwake, std::memory_order_seq_cst);
        return false;
    }
    return true;
}

void SynthPort::endSleep()
{
    const std::int64_t origin = m_sleepOrigin.load(std::memory_order_relaxed);
    if (origin == kAwake)
        return;
    // Where the clock has run to, plus a step: a reader that computed the
    // time a moment ago never sees it go back.
    const std::int64_t elapsed = monotonicNanoseconds() - origin;
    const std::int64_t rate = m_sampleRate;
    const std::int64_t frames =
        elapsed / 1000000000 * rate + elapsed % 1000000000 * rate / 1000000000 + kStep;
    m_nextStep = std::max(m_nextStep, frames);
    m_clockFrames.store(m_nextStep, std::memory_order_release);
    m_sleepOrigin.store(kAwake, std::memory_order_seq_cst);
}

} // namespace music::internal
