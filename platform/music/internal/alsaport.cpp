#include "alsaport.h"

namespace music::internal {

AlsaPort::AlsaPort(std::unique_ptr<SequencerBackend> backend, const SequencerPortInfo& destination)
    : m_caps(capsFor(destination)), m_backend(std::move(backend)), m_destination(destination)
{
}

AlsaPort::~AlsaPort() = default;

std::string AlsaPort::idFor(const SequencerPortInfo& info)
{
    return "alsa:" + info.clientName + ":" + info.portName;
}

PortCaps AlsaPort::capsFor(const SequencerPortInfo& info)
{
    PortCaps caps;
    caps.id = idFor(info);
    caps.description = info.clientName + ":" + info.portName;
    caps.portClass = info.acceptsEvents ? PortClass::Output : PortClass::Input;
    caps.downloadsInstruments = false;
    caps.reverb = false;
    return caps;
}

Result AlsaPort::activate(bool on)
{
    std::lock_guard lock(m_mutex);
    if (on && (!m_backend || !m_backend->startQueue()))
        return Result::Failed;
    m_active = on;
    return Result::Ok;
}

bool AlsaPort::isActive() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

std::int64_t AlsaPort::now() const
{
    std::lock_guard lock(m_mutex);
    return m_backend ? m_backend->queueTime() : 0;
}

Result AlsaPort::schedule(std::int64_t time, std::span<const std::uint8_t> message)
{
    std::lock_guard lock(m_mutex);
    if (!m_backend || m_gone)
        return Result::Failed;
    return resultOf(m_backend->sendAt(m_destination.client, m_destination.port, time, message));
}

Result AlsaPort::sendNow(std::span<const std::uint8_t> message)
{
    std::lock_guard lock(m_mutex);
    if (!m_backend || m_gone)
        return Result::Failed;
    return resultOf(m_backend->sendDirect(m_destination.client, m_destination.port, message));
}

Result AlsaPort::resultOf(Sent sent)
{
    switch (sent) {
    case Sent::Yes:
        return Result::Ok;
    case Sent::Full:
        return Result::Failed;
    case Sent::Refused:
        break;
    }
    // Refused: either the destination has gone or this one message cannot be sent.
    m_gone = !m_backend->portExists(m_destination.client, m_destination.port);
    return m_gone ? Result::Failed : Result::NotSupported;
}

void AlsaPort::silence()
{
    std::lock_guard lock(m_mutex);
    if (!m_backend)
        return;
    m_backend->dropQueued();
    if (m_gone)
        return;
    for (const ControlMessage& message : silencingMessages())
        m_backend->sendDirect(m_destination.client, m_destination.port, message);
}

bool AlsaPort::isAlive() const
{
    std::lock_guard lock(m_mutex);
    if (!m_gone && m_backend)
        m_gone = !m_backend->portExists(m_destination.client, m_destination.port);
    return !m_gone;
}

} // namespace music::internal
