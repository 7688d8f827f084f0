// Builds MIDI files as byte arrays, valid or broken on purpose, and prints
// segments the way brisolde-inspect does, so that tests read like its output.
#pragma once

#include "loader.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace midibytes {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts);
Bytes text(const std::string& s);
Bytes varLen(std::uint32_t value);
Bytes big32(std::uint32_t value);
Bytes little32(std::uint32_t value);

// "MThd", length 6, format, track count, division.
Bytes header(int format, int tracks, std::uint16_t division);
// "MTrk", the length of `events`, the events.
Bytes track(const Bytes& events);
// The usual end of track, after `delta` ticks.
Bytes endOfTrack(std::uint32_t delta = 0);
// A meta event after `delta` ticks.
Bytes meta(std::uint32_t delta, std::uint8_t type, const Bytes& data);
Bytes tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter);
// A whole RIFF MIDI file around `smf`, after the given extra chunks.
Bytes riff(const Bytes& smf, const Bytes& chunksBefore = {});

music::LoadResult load(const Bytes& bytes);
// "MT US TRACK HEX" for every event.
std::vector<std::string> lines(const music::Segment& segment);
// Loads `bytes`, expects success and returns the event lines.
std::vector<std::string> eventLines(const Bytes& bytes);

} // namespace midibytes
