// Reads Standard MIDI Files (formats 0, 1 and 2) and RIFF MIDI files into segments.
// Not thread-safe: one loader belongs to one thread (the user-interface thread).
#pragma once

#include "segment.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace music {

enum class LoadError
{
    None = 0,
    ReadFailed,    // the file cannot be read
    NotMidi,       // neither a Standard MIDI File nor a RIFF MIDI file
    InvalidHeader, // the header chunk is missing, short or holds impossible values
    NoTracks,      // no track chunk
    TooLarge,      // 2 GiB or more, or more than the memory available
};

// A stable name for the code, such as "invalid-header".
std::string_view errorName(LoadError error) noexcept;

struct LoadResult
{
    std::shared_ptr<Segment> segment; // null when the file failed to load
    LoadError error = LoadError::None;
    std::string reason; // one line saying what is wrong

    explicit operator bool() const noexcept { return segment != nullptr; }
};

// Parses a whole file held in memory; the choice of format is made by content.
// Time and memory grow linearly with the size of `bytes`, whatever they hold.
LoadResult load(std::span<const std::uint8_t> bytes);

// Reads and parses the file at `path`.
LoadResult loadFile(const std::string& path);

// Keeps loaded segments by path, so that asking twice for a file hands out the
// same segment until it is released.
class Loader
{
public:
    // The cached segment for `path`, or the file read and parsed afresh. A file
    // that fails to load is not cached.
    LoadResult getObject(const std::string& path);
    // Forgets the segment cached for `path`; the next getObject reads the file again.
    // False when nothing was cached for it.
    bool releaseObject(const std::string& path);
    // Forgets `segment` under whichever path it was cached.
    bool releaseObject(const Segment* segment);
    std::size_t cachedCount() const noexcept { return m_cache.size(); }

private:
    std::unordered_map<std::string, std::shared_ptr<Segment>> m_cache;
};

} // namespace music
