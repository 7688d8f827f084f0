// What an ALSA output port needs of the sequencer. The real backend wraps
// libasound; tests of the port's logic use a fake, since machines without a
// sound card have no /dev/snd/seq.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace music::internal {

struct SequencerPortInfo
{
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
    bool acceptsEvents = false; // others may write to it
};

// What became of a message handed to the sequencer.
enum class Sent
{
    Yes,
    Full,   // our queue in the kernel has no room now; it drains as events go out
    Refused // not taken: the destination is gone, or the message cannot be encoded
};

class SequencerBackend
{
public:
    virtual ~SequencerBackend();

    // Every port of the other clients, in client and port order.
    virtual std::vector<SequencerPortInfo> ports() = 0;
    virtual bool portExists(int client, int port) = 0;

    // Our queue: started on first use; its time in microseconds.
    virtual bool startQueue() = 0;
    virtual std::int64_t queueTime() = 0;

    // One complete MIDI message to (client, port): on the queue at `time`, or at once.
    // Neither waits for room.
    virtual Sent sendAt(int client, int port, std::int64_t time,
                        std::span<const std::uint8_t> message) = 0;
    virtual Sent sendDirect(int client, int port, std::span<const std::uint8_t> message) = 0;
    // Takes back everything sent to the queue that has not been delivered yet.
    virtual void dropQueued() = 0;
};

// The system's sequencer, or null when there is none (no /dev/snd/seq).
std::unique_ptr<SequencerBackend> openAlsaSequencer(const char* clientName);

} // namespace music::internal
