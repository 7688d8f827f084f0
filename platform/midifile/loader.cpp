#include "loader.h"

#include "internal/eventbuffer.h"
#include "internal/smfparser.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace music {

namespace {

unsigned threadsFor(const LoadOptions& options)
{
    return options.threads == 0 ? 0 : std::min(options.threads, 2u);
}

} // namespace

LoadResult load(std::span<const std::uint8_t> bytes, const LoadOptions& options)
{
    return internal::SmfParser::parse(bytes, {threadsFor(options), false});
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

LoadResult loadFile(const std::string& path, const LoadOptions& options)
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

    const internal::ParseOptions parse{threadsFor(options), true};
    if (size == 0)
        return internal::SmfParser::parse({}, parse);

    // Mapped, not copied: the parser reads the system's own copy of the file and
    // gives back each page once it has read it. A read lease makes a writer that
    // would truncate the file wait until the parser is done, instead of the
    // parser's reads faulting beyond the new end. Where there is no lease (the
    // file is someone else's, or open for writing), it is read instead.
    if (::fcntl(file.get(), F_SETLEASE, F_RDLCK) == 0) {
        void* mapped =
            ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, file.get(), 0);
        if (mapped != MAP_FAILED) {
            LoadResult result = internal::SmfParser::parse(
                {static_cast<const std::uint8_t*>(mapped), static_cast<std::size_t>(size)}, parse);
            ::munmap(mapped, static_cast<std::size_t>(size));
            ::fcntl(file.get(), F_SETLEASE, F_UNLCK);
            return result;
        }
        ::fcntl(file.get(), F_SETLEASE, F_UNLCK);
    }

    // No more than the size seen is read: a file that grows meanwhile is read as
    // it was, one that shrinks as far as it goes. The buffer is not cleared
    // first: every byte used is read into it.
    internal::PodBuffer<std::uint8_t> bytes;
    try {
        bytes.reserve(static_cast<std::size_t>(size));
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
    return internal::SmfParser::parse(std::span<const std::uint8_t>(bytes.data(), bytes.size()),
                                      parse);
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
