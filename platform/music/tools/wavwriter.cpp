#include "wavwriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace music::tools {
namespace {

// Written to the file a mebibyte at a time.
constexpr std::size_t kBlockBytes = 1 << 20;
constexpr std::size_t kHeaderBytes = 44;

void put16(std::uint8_t* at, std::uint16_t v)
{
    at[0] = std::uint8_t(v & 0xFF);
    at[1] = std::uint8_t(v >> 8);
}

void put32(std::uint8_t* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(v >> (8 * i));
}

std::uint16_t sample(float v)
{
    const float clamped = std::clamp(v, -1.0f, 1.0f);
    return std::uint16_t(std::int16_t(std::lround(clamped * 32767.0f)));
}

Status failure(const std::string& what, const std::string& path)
{
    return {Result::Failed, what + " " + path + ": " + std::strerror(errno)};
}

} // namespace

WavWriter::WavWriter(std::string path, int rate, std::uint64_t maxFrames)
    : m_path(std::move(path)), m_rate(rate), m_maxFrames(std::min(maxFrames, kMaxFrames))
{
    m_block.reserve(kBlockBytes);
}

WavWriter::~WavWriter()
{
    if (m_file)
        std::fclose(m_file);
}

Status WavWriter::open()
{
    m_file = std::fopen(m_path.c_str(), "wb");
    if (!m_file)
        return failure("cannot create", m_path);
    // The sizes are written by finish(); until then the header holds zeros.
    std::uint8_t header[kHeaderBytes] = {'R', 'I', 'F', 'F', 0,   0,   0,   0, 'W', 'A', 'V',
                                         'E', 'f', 'm', 't', ' ', 0,   0,   0, 0,   0,   0,
                                         0,   0,   0,   0,   0,   0,   0,   0, 0,   0,   0,
                                         0,   0,   0,   'd', 'a', 't', 'a', 0, 0,   0,   0};
    put32(header + 16, 16);
    put16(header + 20, 1); // PCM
    put16(header + 22, 2);
    put32(header + 24, std::uint32_t(m_rate));
    put32(header + 28, std::uint32_t(m_rate) * 4);
    put16(header + 32, 4);
    put16(header + 34, 16);
    if (std::fwrite(header, 1, sizeof header, m_file) != sizeof header)
        return failure("cannot write", m_path);
    return Result::Ok;
}

Outcome<std::size_t> WavWriter::append(const float* left, const float* right, std::size_t frames)
{
    const std::size_t room = std::size_t(std::min<std::uint64_t>(frames, m_maxFrames - m_frames));
    std::size_t done = 0;
    while (done < room) {
        const std::size_t used = m_block.size();
        const std::size_t n = std::min(room - done, (kBlockBytes - used) / 4);
        m_block.resize(used + n * 4);
        std::uint8_t* at = m_block.data() + used;
        for (std::size_t i = 0; i < n; ++i, at += 4) {
            put16(at, sample(left[done + i]));
            put16(at + 2, sample(right[done + i]));
        }
        done += n;
        m_frames += n;
        if (m_block.size() + 4 > kBlockBytes) {
            if (Status flushed = flush(); !flushed.ok())
                return flushed;
        }
    }
    return done;
}

Status WavWriter::flush()
{
    if (!m_block.empty() &&
        std::fwrite(m_block.data(), 1, m_block.size(), m_file) != m_block.size())
        return failure("cannot write", m_path);
    m_block.clear();
    return Result::Ok;
}

Status WavWriter::finish(std::uint64_t frames)
{
    if (!m_file)
        return {Result::Failed, "the file " + m_path + " is not open"};
    frames = std::min(frames, m_frames);
    const std::uint64_t dataBytes = frames * 4;
    Status status = flush();
    if (status.ok() && std::fflush(m_file) != 0)
        status = failure("cannot write", m_path);
    // The silence after the end is cut off again.
    if (status.ok() && ::ftruncate(::fileno(m_file), off_t(kHeaderBytes + dataBytes)) != 0)
        status = failure("cannot cut", m_path);
    if (status.ok()) {
        std::uint8_t sizes[4];
        put32(sizes, std::uint32_t(36 + dataBytes));
        bool ok = std::fseek(m_file, 4, SEEK_SET) == 0 && std::fwrite(sizes, 1, 4, m_file) == 4;
        put32(sizes, std::uint32_t(dataBytes));
        ok = ok && std::fseek(m_file, 40, SEEK_SET) == 0 && std::fwrite(sizes, 1, 4, m_file) == 4;
        if (!ok)
            status = failure("cannot write", m_path);
    }
    if (std::fclose(m_file) != 0 && status.ok())
        status = failure("cannot write", m_path);
    m_file = nullptr;
    return status;
}

} // namespace music::tools
