// Speed and memory of the MIDI file loader on a 32 MB, 32-track file. Rates are
// in wall-clock time: the loader may use a second thread.
#include "benchfile.h"
#include "loader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
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

// Parse and merge from memory.
void loadFromMemory(benchmark::State& state, const std::vector<std::uint8_t>& file)
{
    std::shared_ptr<music::Segment> segment;
    for (auto _ : state) {
        segment.reset();
        music::LoadResult result = music::load(file);
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
BENCHMARK(BM_LoadFromMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The same amount of events in a single track: parsing alone, nothing to merge.
void BM_LoadOneTrack(benchmark::State& state)
{
    static const std::vector<std::uint8_t> file = bench::makeBenchFile(bench::kBenchFileBytes, 1);
    loadFromMemory(state, file);
}
BENCHMARK(BM_LoadOneTrack)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Read, parse and merge from a file, through the player's loader.
void BM_LoadFromFile(benchmark::State& state)
{
    const std::vector<std::uint8_t>& file = benchFile();
    char path[] = "/tmp/brisolde-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
        state.SkipWithError("cannot write the bench file");
        return;
    }
    close(fd);
    std::shared_ptr<music::Segment> segment;
    for (auto _ : state) {
        segment.reset();
        music::Loader loader;
        music::LoadResult result = loader.getObject(path);
        if (!result) {
            state.SkipWithError(result.reason().c_str());
            break;
        }
        segment = std::move(result).value();
        benchmark::DoNotOptimize(segment.get());
    }
    unlink(path);
    if (segment)
        reportSegment(state, *segment, file.size());
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
