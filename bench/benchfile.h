// The benchmark's test piece: a format 1 file of 32 busy tracks, generated the
// same way on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

// About `targetBytes` of MIDI data in `tracks` tracks (format 1; format 0 for
// one): notes with running status, controllers, pitch bend, program changes,
// and tempo changes in the first track.
std::vector<std::uint8_t> makeBenchFile(std::size_t targetBytes, int tracks = 32);

inline constexpr std::size_t kBenchFileBytes = 32u << 20;
// About 100 million events.
inline constexpr std::size_t kHugeBenchFileBytes = std::size_t{307} << 20;

} // namespace bench
