// MIDI output ports: the built-in synthesizer, the ALSA sequencer's ports
// and, for tests, a port that records what it receives.
#pragma once

#include "result.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace music {

enum class PortClass
{
    Input,
    Output
};

// What a port is and can do.
struct PortCaps
{
    std::string id;          // stable: survives restarts of the program and of the port
    std::string description; // shown in the device list
    PortClass portClass = PortClass::Output;
    bool downloadsInstruments = false; // takes the instruments of a SoundFont
    bool reverb = false;               // has a reverb that can be switched
};

// An instrument as a piece chooses it: bank (controller 0) and program, on
// the percussion channel (the tenth) or another.
struct Instrument
{
    std::uint8_t bank = 0;
    std::uint8_t program = 0;
    bool percussion = false;
    auto operator<=>(const Instrument&) const = default;
};

// An output port. Times are the port's own clock in microseconds, which is
// the time base of everything played on it: the audio rendered so far for the
// synthesizer, the sequencer queue's time for ALSA.
class Port
{
public:
    virtual ~Port();

    virtual const PortCaps& caps() const = 0;

    // Starts or stops the port's clock and output.
    virtual Result activate(bool on) = 0;
    virtual bool isActive() const = 0;

    // The port's clock; does not go backwards while active.
    virtual std::int64_t now() const = 0;

    // Queues one complete MIDI message (a channel message, or a system
    // exclusive message from F0 to F7) to sound at `time`. Times of successive
    // calls do not decrease until the next silence(). Ok once queued; Failed
    // when the port cannot take it now and nothing changed: its queue is full
    // (hand it over again later, the queue drains as time passes) or the
    // device has gone (isAlive() tells); NotSupported for a message this port
    // can never take.
    virtual Result schedule(std::int64_t time, std::span<const std::uint8_t> message) = 0;
    // Sends a message ahead of everything queued.
    virtual Result sendNow(std::span<const std::uint8_t> message) = 0;

    // Drops everything queued and silences all 16 channels: sustain and
    // sostenuto off, all notes off.
    virtual void silence() = 0;

    // Makes `instruments` (those of the piece about to play) available, or
    // takes every instrument away; NotSupported on a port that takes no
    // downloaded instruments. A download waits until the instruments are
    // ready; when it fails, its reason says why (no SoundFont, for example).
    virtual Status download(std::span<const Instrument> instruments);
    virtual Result unload();
    virtual bool isDownloaded() const { return false; }

    // Reverb on or off; NotSupported on a port without a switchable reverb.
    virtual Result setReverb(bool on);

    // False once the device behind the port has gone away.
    virtual bool isAlive() const { return true; }
};

// The messages that silence one port: for each of the 16 channels, sustain
// off, sostenuto off and all notes off. A fixed table: sending it allocates nothing.
using ControlMessage = std::array<std::uint8_t, 3>;
std::span<const ControlMessage> silencingMessages();

} // namespace music
