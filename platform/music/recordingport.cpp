#include "recordingport.h"

#include <algorithm>
#include <utility>

namespace music {

RecordingPort::RecordingPort(bool downloadsInstruments, bool reverb)
{
    m_caps.id = kId;
    m_caps.description = "Recorder";
    m_caps.downloadsInstruments = downloadsInstruments;
    m_caps.reverb = reverb;
}

RecordingPort::RecordingPort(PortCaps caps) : m_caps(std::move(caps)) {}

Result RecordingPort::activate(bool on)
{
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return Result::Failed;
    m_active = on;
    return Result::Ok;
}

bool RecordingPort::isActive() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

std::int64_t RecordingPort::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

Result RecordingPort::schedule(std::int64_t time, std::span<const std::uint8_t> message)
{
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return Result::Failed;
    Received entry{time, {message.begin(), message.end()}};
    if (time > m_now && m_pending.size() >= m_queueLimit)
        return Result::Failed;
    if (time <= m_now) {
        entry.time = m_now;
        m_received.push_back(std::move(entry));
    } else {
        m_pending.push_back(std::move(entry));
    }
    return Result::Ok;
}

Result RecordingPort::sendNow(std::span<const std::uint8_t> message)
{
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return Result::Failed;
    m_received.push_back({m_now, {message.begin(), message.end()}});
    return Result::Ok;
}

void RecordingPort::silence()
{
    std::lock_guard lock(m_mutex);
    m_pending.clear();
    if (m_gone)
        return;
    for (const ControlMessage& message : silencingMessages())
        m_received.push_back({m_now, {message.begin(), message.end()}});
}

Status RecordingPort::download(std::span<const Instrument> instruments)
{
    std::lock_guard lock(m_mutex);
    if (!m_caps.downloadsInstruments)
        return Result::NotSupported;
    if (m_gone)
        return {Result::Failed, "the recorder has gone"};
    m_downloaded = true;
    ++m_downloads;
    m_instruments.assign(instruments.begin(), instruments.end());
    return Result::Ok;
}

Result RecordingPort::unload()
{
    std::lock_guard lock(m_mutex);
    if (!m_caps.downloadsInstruments)
        return Result::NotSupported;
    m_downloaded = false;
    ++m_unloads;
    return Result::Ok;
}

bool RecordingPort::isDownloaded() const
{
    std::lock_guard lock(m_mutex);
    return m_downloaded;
}

Result RecordingPort::setReverb(bool on)
{
    std::lock_guard lock(m_mutex);
    if (!m_caps.reverb)
        return Result::NotSupported;
    m_reverb = on;
    return Result::Ok;
}

void RecordingPort::setNow(std::int64_t time)
{
    std::lock_guard lock(m_mutex);
    m_now = time;
    // Due messages arrive in time order; equal times keep their queue order.
    std::stable_sort(m_pending.begin(), m_pending.end(),
                     [](const Received& a, const Received& b) { return a.time < b.time; });
    auto due = std::find_if(m_pending.begin(), m_pending.end(),
                            [time](const Received& r) { return r.time > time; });
    std::move(m_pending.begin(), due, std::back_inserter(m_received));
    m_pending.erase(m_pending.begin(), due);
}

void RecordingPort::setQueueLimit(std::size_t messages)
{
    std::lock_guard lock(m_mutex);
    m_queueLimit = messages;
}

std::vector<RecordingPort::Received> RecordingPort::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::size_t RecordingPort::pending() const
{
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

int RecordingPort::downloads() const
{
    std::lock_guard lock(m_mutex);
    return m_downloads;
}

std::vector<Instrument> RecordingPort::instruments() const
{
    std::lock_guard lock(m_mutex);
    return m_instruments;
}

int RecordingPort::unloads() const
{
    std::lock_guard lock(m_mutex);
    return m_unloads;
}

bool RecordingPort::reverbOn() const
{
    std::lock_guard lock(m_mutex);
    return m_reverb;
}

bool RecordingPort::isAlive() const
{
    std::lock_guard lock(m_mutex);
    return !m_gone;
}

void RecordingPort::disappear()
{
    std::lock_guard lock(m_mutex);
    m_gone = true;
    m_pending.clear();
}

} // namespace music
