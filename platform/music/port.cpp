#include "port.h"

namespace music {

Port::~Port() = default;

Status Port::download(std::span<const Instrument>)
{
    return Result::NotSupported;
}

Result Port::unload()
{
    return Result::NotSupported;
}

Result Port::setReverb(bool)
{
    return Result::NotSupported;
}

namespace {

constexpr std::array<ControlMessage, 48> kSilencingMessages = [] {
    std::array<ControlMessage, 48> messages{};
    for (std::size_t channel = 0; channel < 16; ++channel) {
        const auto status = static_cast<std::uint8_t>(0xB0 | channel);
        messages[channel * 3] = {status, 64, 0};      // sustain off
        messages[channel * 3 + 1] = {status, 66, 0};  // sostenuto off
        messages[channel * 3 + 2] = {status, 123, 0}; // all notes off
    }
    return messages;
}();

} // namespace

std::span<const ControlMessage> silencingMessages()
{
    return kSilencingMessages;
}

} // namespace music
