// Writes the benchmark's 32 MB test piece, for comparisons with other tools.
#include "benchfile.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: brisolde-make-bench-file OUT.mid\n", stderr);
        return 2;
    }
    const std::vector<std::uint8_t> file = bench::makeBenchFile(bench::kBenchFileBytes);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out)) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
