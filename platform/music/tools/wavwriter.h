// A 16-bit stereo PCM WAV file written while it is rendered, in large blocks,
// so that a piece of any length needs no more memory than one block.
#pragma once

#include "result.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace music::tools {

class WavWriter
{
public:
    // The most frames a WAV file can hold: its RIFF size, 36 bytes of header
    // after it plus the data, must fit in 32 bits (a little over 4 GiB).
    static constexpr std::uint64_t kMaxFrames = (0xFFFFFFFFull - 36) / 4;

    // `maxFrames` may lower the limit (never raise it).
    WavWriter(std::string path, int rate, std::uint64_t maxFrames = kMaxFrames);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    std::uint64_t maxFrames() const { return m_maxFrames; }
    // Creates the file.
    Status open();
    // Appends up to `frames` frames: how many fit (fewer once the file is full).
    Outcome<std::size_t> append(const float* left, const float* right, std::size_t frames);
    std::uint64_t frames() const { return m_frames; }
    bool full() const { return m_frames >= m_maxFrames; }
    // Keeps the first `frames` frames (at most those appended), writes the
    // sizes into the header and closes the file.
    Status finish(std::uint64_t frames);

private:
    Status flush();

    std::string m_path;
    int m_rate;
    std::uint64_t m_maxFrames;
    std::FILE* m_file = nullptr;
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_frames = 0;
};

} // namespace music::tools
