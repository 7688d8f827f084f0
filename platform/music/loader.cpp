#include "loader.h"

#include "internal/eventbuffer.h"
#include "internal/prefaulter.h"
#include "internal/smfparser.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace music {

LoadResult load(std::span<const std::uint8_t> bytes)
{
    return internal::SmfParser::parse(bytes);
}

namespace {

Status readFailure(const std::string& what, int error)
{
    return Status::failure(Error::ReadFailed, what + ": " + std::strerror(error));
}

} // namespace

LoadResult loadFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return readFailure("cannot open the file", errno);
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return readFailure("cannot read the file", error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return readFailure("cannot read the file", EISDIR);
    }
    // The size is a hint only (pipes report 0, a file may grow): read until the end.
    // The buffer is not cleared first: every byte used is read into it.
    internal::PodBuffer<std::uint8_t> bytes;
    internal::Prefaulter prefaulter;
    try {
        bytes.reserve(S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) + 1 : 65536);
        prefaulter.start(bytes.data(), bytes.capacity());
        for (;;) {
            if (bytes.size() == bytes.capacity()) {
                prefaulter.stop();
                bytes.reserve(bytes.capacity() * 2);
            }
            const ssize_t got =
                ::read(fd, bytes.data() + bytes.size(), bytes.capacity() - bytes.size());
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                const int error = errno;
                ::close(fd);
                return readFailure("cannot read the file", error);
            }
            if (got == 0)
                break;
            bytes.resizeForOverwrite(bytes.size() + static_cast<std::size_t>(got));
        }
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return Status::failure(Error::TooLarge, "not enough memory to read the file");
    }
    ::close(fd);
    prefaulter.stop();
    return load(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
}

LoadResult Loader::getObject(const std::string& path)
{
    if (auto found = m_cache.find(path); found != m_cache.end())
        return found->second;
    LoadResult result = loadFile(path);
    if (result)
        m_cache.emplace(path, result.value());
    return result;
}

bool Loader::releaseObject(const std::string& path)
{
    return m_cache.erase(path) > 0;
}

bool Loader::releaseObject(const Segment* segment)
{
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
        if (it->second.get() == segment) {
            m_cache.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace music
