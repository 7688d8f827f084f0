// An ALSA sequencer port of another client as an output port. Messages go on
// our sequencer queue ahead of their time, stamped in real time, and the
// kernel delivers each at its moment. Such a port takes no downloaded
// instruments and has no reverb of ours to switch.
//
// When the kernel's queue for us is full, schedule() fails at once (the
// performance hands the message over again once events have gone out) rather
// than waiting with the lock held.
//
// Threads: Port operations may come from several threads; a lock orders
// them (there is no real-time thread here: the kernel does the timing).
#pragma once

#include "port.h"
#include "sequencerbackend.h"

#include <mutex>

namespace music::internal {

class AlsaPort final : public Port
{
public:
    AlsaPort(std::unique_ptr<SequencerBackend> backend, const SequencerPortInfo& destination);
    ~AlsaPort() override;

    // "alsa:<client name>:<port name>": stable while the client keeps its names.
    static std::string idFor(const SequencerPortInfo& info);
    static PortCaps capsFor(const SequencerPortInfo& info);

    const PortCaps& caps() const override { return m_caps; }
    Result activate(bool on) override;
    bool isActive() const override;
    std::int64_t now() const override;
    Result schedule(std::int64_t time, std::span<const std::uint8_t> message) override;
    Result sendNow(std::span<const std::uint8_t> message) override;
    void silence() override;
    bool isAlive() const override;

private:
    Result resultOf(Sent sent);

    PortCaps m_caps;
    std::unique_ptr<SequencerBackend> m_backend;
    SequencerPortInfo m_destination;
    mutable std::mutex m_mutex;
    bool m_active = false;
    mutable bool m_gone = false;
};

} // namespace music::internal
