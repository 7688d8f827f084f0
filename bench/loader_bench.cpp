// Speed and memory of the MIDI file loader on the generated 32 MB, 32-track
// file (and, asked for by name, the 307 MB one of 100 million events). Rates are
// in wall-clock time: the loader may use a second thread.
//
//   loader_bench --benchmark_filter=Huge     the 307 MB file only
#include "benchfile.h"
#include "loader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const std::vector<std::uint8_t>& benchFile()
{
    static const std::vector<std::uint8_t> file = bench::makeBenchFile(bench::kBenchFileBytes);
    return file;
}

void reportSegment(benchmark::State& state, const music::Segment& segment, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["events"] = static_cast<double>(segment.events().size());
    state.counters["segment_bytes_per_event"] =
        static_cast<double>(segment.memoryUsage()) / static_cast<double>(segment.events().size());
    state.counters["file_MB"] = static_cast<double>(bytes) / (1 << 20);
}

// Parse and merge from memory, on as many threads as the argument says.
void loadFromMemory(benchmark::State& state, const std::vector<std::uint8_t>& file)
{
    music::LoadOptions options;
    options.threads = static_cast<unsigned>(state.range(0));
    std::shared_ptr<music::Segment> segment;
    for (auto _ : state) {
        segment.reset();
        music::LoadResult result = music::load(file, options);
        if (!result) {
            state.SkipWithError(result.reason().c_str());
            return;
        }
        segment = std::move(result).value();
        benchmark::DoNotOptimize(segment.get());
    }
    reportSegment(state, *segment, file.size());
}

void BM_LoadFromMemory(benchmark::State& state)
{
    loadFromMemory(state, benchFile());
}
BENCHMARK(BM_LoadFromMemory)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// The same amount of events in a single track: parsing alone, nothing to merge.
void BM_LoadOneTrack(benchmark::State& state)
{
    static const std::vector<std::uint8_t> file = bench::makeBenchFile(bench::kBenchFileBytes, 1);
    loadFromMemory(state, file);
}
BENCHMARK(BM_LoadOneTrack)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// A temporary copy of `bytes` on disk, removed with the object.
class TempFile
{
public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes)
    {
        const int fd = mkstemp(m_path);
        m_ok = fd >= 0 && write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
        if (fd >= 0)
            close(fd);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { unlink(m_path); }
    bool ok() const { return m_ok; }
    const char* path() const { return m_path; }

private:
    char m_path[32] = "/tmp/brisolde-bench-XXXXXX";
    bool m_ok = false;
};

// Open, map, parse and merge, through the player's loader (its own choice of threads).
void loadFromFile(benchmark::State& state, const std::vector<std::uint8_t>& file)
{
    const TempFile temp(file);
    if (!temp.ok()) {
        state.SkipWithError("cannot write the bench file");
        return;
    }
    std::shared_ptr<music::Segment> segment;
    for (auto _ : state) {
        segment.reset();
        music::Loader loader;
        music::LoadResult result = loader.getObject(temp.path());
        if (!result) {
            state.SkipWithError(result.reason().c_str());
            break;
        }
        segment = std::move(result).value();
        benchmark::DoNotOptimize(segment.get());
    }
    if (segment)
        reportSegment(state, *segment, file.size());
}

void BM_LoadFromFile(benchmark::State& state)
{
    loadFromFile(state, benchFile());
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// What no loader can beat: reading the file (mapped, every page touched) and
// writing 8 bytes for each of its events into fresh memory, as the loader's
// buffer gets it.
void readFileAndWriteEvents(benchmark::State& state, const std::vector<std::uint8_t>& bytes,
                            std::size_t events)
{
    const TempFile temp(bytes);
    for (auto _ : state) {
        const int fd = open(temp.path(), O_RDONLY | O_CLOEXEC);
        auto* file = static_cast<const std::uint8_t*>(
            mmap(nullptr, bytes.size(), PROT_READ, MAP_PRIVATE, fd, 0));
        constexpr std::size_t kHugePage = std::size_t{2} << 20;
        const std::size_t size = (events * 8 + kHugePage - 1) / kHugePage * kHugePage;
        auto* out = static_cast<std::uint64_t*>(std::aligned_alloc(kHugePage, size));
        madvise(out, size, MADV_HUGEPAGE);
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < bytes.size(); i += 4096)
            sum += file[i];
        for (std::size_t i = 0; i < events; ++i)
            out[i] = sum + i;
        benchmark::DoNotOptimize(out[events / 2]);
        std::free(out);
        munmap(const_cast<std::uint8_t*>(file), bytes.size());
        close(fd);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_ReadFileAndWriteEvents(benchmark::State& state)
{
    static const std::size_t events = music::load(benchFile()).value()->events().size();
    readFileAndWriteEvents(state, benchFile(), events);
}
BENCHMARK(BM_ReadFileAndWriteEvents)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

const std::vector<std::uint8_t>& hugeFile()
{
    static const std::vector<std::uint8_t> file = bench::makeBenchFile(bench::kHugeBenchFileBytes);
    return file;
}

// 307 MiB, about 100 million events: only when asked for by name.
void BM_HugeLoadFromFile(benchmark::State& state)
{
    loadFromFile(state, hugeFile());
}
BENCHMARK(BM_HugeLoadFromFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_HugeReadFileAndWriteEvents(benchmark::State& state)
{
    static const std::size_t events = music::load(hugeFile()).value()->events().size();
    readFileAndWriteEvents(state, hugeFile(), events);
}
BENCHMARK(BM_HugeReadFileAndWriteEvents)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // The huge file takes a while to make: not part of the default run.
    bool named = false;
    for (int i = 1; i < argc; ++i)
        named |= std::strstr(argv[i], "--benchmark_filter") != nullptr;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!named)
        benchmark::SetBenchmarkFilter("-Huge");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
