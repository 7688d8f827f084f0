// A port that keeps every message it receives with its time, for tests. Its
// clock is set by the test, so nothing depends on the machine's speed. The
// port manager lists it only where its options name recording ports
// (PortManager::Options::recordingPorts): never to users.
#pragma once

#include "port.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace music {

class RecordingPort final : public Port
{
public:
    static constexpr char kId[] = "brisolde:recorder";

    struct Received
    {
        std::int64_t time;
        std::vector<std::uint8_t> bytes;
        bool operator==(const Received&) const = default;
    };

    explicit RecordingPort(bool downloadsInstruments = false, bool reverb = false);
    // A port that answers to `caps` (its identifier, description and abilities).
    explicit RecordingPort(PortCaps caps);

    const PortCaps& caps() const override { return m_caps; }
    Result activate(bool on) override;
    bool isActive() const override;
    std::int64_t now() const override;
    Result schedule(std::int64_t time, std::span<const std::uint8_t> message) override;
    Result sendNow(std::span<const std::uint8_t> message) override;
    void silence() override;
    Status download(std::span<const Instrument> instruments) override;
    Result unload() override;
    bool isDownloaded() const override;
    Result setReverb(bool on) override;
    bool isAlive() const override;

    // Moves the clock; messages due by then count as received.
    void setNow(std::int64_t time);
    // At most `messages` wait for their time; schedule() fails while that many do.
    void setQueueLimit(std::size_t messages);
    // Messages received so far (due by the clock), in order.
    std::vector<Received> received() const;
    // Messages still waiting for their time.
    std::size_t pending() const;
    int downloads() const;
    // The instruments of the last download.
    std::vector<Instrument> instruments() const;
    int unloads() const;
    bool reverbOn() const;
    // From now on every operation fails, as when the device has gone.
    void disappear();

private:
    PortCaps m_caps;
    mutable std::mutex m_mutex;
    bool m_active = false;
    bool m_gone = false;
    bool m_downloaded = false;
    bool m_reverb = false;
    int m_downloads = 0;
    int m_unloads = 0;
    std::vector<Instrument> m_instruments;
    std::int64_t m_now = 0;
    std::size_t m_queueLimit = SIZE_MAX;
    std::vector<Received> m_received;
    std::vector<Received> m_pending;
};

} // namespace music
