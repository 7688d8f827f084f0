// Where the General MIDI SoundFont is found.
#pragma once

#include <string>
#include <vector>

namespace music::internal {

// Candidate SoundFonts in the order they are tried: default-GM.sf2,
// FluidR3_GM.sf2 and TimGM6mb.sf2 in `folder`, then any other .sf2 or .sf3
// there, by name. Only files that exist are listed.
std::vector<std::string> soundFontCandidates(const std::string& folder = "/usr/share/sounds/sf2");

} // namespace music::internal
