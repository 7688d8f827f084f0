// What no loader can beat, as a whole process: maps a MIDI file and touches
// every page of it, then writes 8 bytes for each of its events into fresh
// memory, as the loader's event buffer gets it.
//
//   brisolde-bench-floor FILE EVENTS
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fputs("usage: brisolde-bench-floor FILE EVENTS\n", stderr);
        return 2;
    }
    const std::size_t events = std::strtoull(argv[2], nullptr, 10);
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat info
    {
    };
    if (fd < 0 || fstat(fd, &info) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const auto bytes = static_cast<std::size_t>(info.st_size);
    void* mapped = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
        std::perror(argv[1]);
        return 1;
    }
    const auto* file = static_cast<const std::uint8_t*>(mapped);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bytes; i += 4096)
        sum += file[i];
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t size = (events * 8 + kHugePage - 1) / kHugePage * kHugePage;
    auto* out = static_cast<std::uint64_t*>(std::aligned_alloc(kHugePage, size));
    if (!out)
        return 1;
    madvise(out, size, MADV_HUGEPAGE);
    for (std::size_t i = 0; i < events; ++i)
        out[i] = sum + i;
    const int result = out[events / 2] == 1 ? 1 : 0;
    std::free(out);
    munmap(mapped, bytes);
    close(fd);
    return result;
}
