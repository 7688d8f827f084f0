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

// Only regular files hold a piece: what else a path can name is refused by
// its kind, before anything is read from it.
Status notAFile(mode_t mode)
{
    const char* what = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a named pipe (FIFO)"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                 ? "a socket"
                                                        : "something";
    return Status::failure(Error::NotAFile, std::string(what) + ", not a file");
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const noexcept { return m_fd; }

private:
    int m_fd;
};

} // namespace

LoadResult loadFile(const std::string& path)
{
    // Look first: opening a FIFO waits for a writer, opening a device may act on it.
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        return readFailure("cannot open the file", errno);
    if (!S_ISREG(info.st_mode))
        return notAFile(info.st_mode);
    // The path may name something else by now: never wait in open, and look
    // again at what was opened.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        return readFailure("cannot open the file", errno);
    if (::fstat(file.get(), &info) != 0)
        return readFailure("cannot read the file", errno);
    if (!S_ISREG(info.st_mode))
        return notAFile(info.st_mode);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size >= internal::SmfParser::kMaxFileSize)
        return Status::failure(Error::TooLarge, internal::SmfParser::tooLargeReason(size));

    // No more than the size seen is read: a file that grows meanwhile is read as
    // it was, one that shrinks as far as it goes. The buffer is not cleared
    // first: every byte used is read into it.
    internal::PodBuffer<std::uint8_t> bytes;
    internal::Prefaulter prefaulter;
    try {
        bytes.reserve(static_cast<std::size_t>(size));
        prefaulter.start(bytes.data(), bytes.capacity());
        while (bytes.size() < size) {
            const ssize_t got = ::read(file.get(), bytes.data() + bytes.size(),
                                       static_cast<std::size_t>(size) - bytes.size());
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return readFailure("cannot read the file", errno);
            }
            if (got == 0)
                break;
            bytes.resizeForOverwrite(bytes.size() + static_cast<std::size_t>(got));
        }
    } catch (const std::bad_alloc&) {
        return Status::failure(Error::TooLarge, "not enough memory to read the file");
    }
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
