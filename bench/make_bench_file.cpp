// Writes the benchmark's test pieces, for comparisons with other tools: the
// 32 MB one, or with --huge the 307 MB one of about 100 million events.
#include "benchfile.h"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    const bool huge = argc == 3 && std::strcmp(argv[1], "--huge") == 0;
    if (argc != 2 && !huge) {
        std::fputs("usage: brisolde-make-bench-file [--huge] OUT.mid\n", stderr);
        return 2;
    }
    const char* path = argv[argc - 1];
    const std::vector<std::uint8_t> file =
        bench::makeBenchFile(huge ? bench::kHugeBenchFileBytes : bench::kBenchFileBytes);
    std::FILE* out = std::fopen(path, "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out)) {
        std::perror(path);
        return 1;
    }
    return 0;
}
