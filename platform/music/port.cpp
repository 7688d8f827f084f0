#include "port.h"

namespace music {

Port::~Port() = default;

Result Port::download()
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

std::vector<std::vector<std::uint8_t>> silencingMessages()
{
    std::vector<std::vector<std::uint8_t>> messages;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        const auto status = static_cast<std::uint8_t>(0xB0 | channel);
        messages.push_back({status, 64, 0});  // sustain off
        messages.push_back({status, 66, 0});  // sostenuto off
        messages.push_back({status, 123, 0}); // all notes off
    }
    return messages;
}

} // namespace music
