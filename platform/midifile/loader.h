// Reads Standard MIDI Files (formats 0, 1 and 2) and RIFF MIDI files into segments.
// The functions may be called from any thread; a large file is read on a second
// thread of the loader's own while the call lasts. A Loader (the cache) belongs
// to one thread (the user-interface thread).
#pragma once

#include "result.h"
#include "segment.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace music {

// A loaded segment, or the Status (Failed, its Error and a one-line reason)
// that says why the file did not load.
using LoadResult = Outcome<std::shared_ptr<Segment>>;

struct LoadOptions
{
    // How many threads may read: 0 lets the loader choose (two for a large file
    // where the machine has two cores), 1 keeps to the caller's thread. The
    // segment is the same whatever the number.
    unsigned threads = 0;
};

// Parses a whole file held in memory; the choice of format is made by content.
// Time and memory grow linearly with the size of `bytes`, whatever they hold.
LoadResult load(std::span<const std::uint8_t> bytes, const LoadOptions& options = {});

// Reads and parses the file at `path`: a regular file (or a link to one) under
// the size limit, looked at before anything is read from it.
LoadResult loadFile(const std::string& path, const LoadOptions& options = {});

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
