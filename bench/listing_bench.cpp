// The file list filling itself from a directory of 100,000 files, half of
// them MIDI files, as the right pane does after a click in the tree.
//
//   listing_bench [--benchmark_...]      (BRISOLDE_LISTING_DIR names a folder
//                                          to reuse; otherwise one is made)
#include "filesview.h"
#include "profilenames.h"
#include "winapp.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::string g_folder;

void makeFolder(const std::string& folder)
{
    QDir().mkpath(QString::fromStdString(folder));
    for (int i = 0; i < 100000; ++i) {
        const std::string name =
            folder + "/piece " + std::to_string(i) + (i % 2 ? ".txt" : (i % 4 ? ".MID" : ".mid"));
        if (std::FILE* f = std::fopen(name.c_str(), "w"))
            std::fclose(f);
    }
}

void FillFileList(benchmark::State& state)
{
    framework::WinApp app("ListingBench");
    app.SetRegistryKey("Brisolde Bench");
    app.WriteProfileString(profile::kSettings, profile::kDefaultDirectory, g_folder + "/");
    CFilesView list;
    list.InitColumns();
    for (auto _ : state) {
        list.FillFileList();
        benchmark::DoNotOptimize(list.topLevelItemCount());
    }
    state.counters["rows"] = list.topLevelItemCount();
}
// CPU is the whole process's: the list looks at the files on two threads.
BENCHMARK(FillFileList)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(2.0);

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QApplication application(argc, argv);
    std::unique_ptr<QTemporaryDir> made;
    if (const char* given = std::getenv("BRISOLDE_LISTING_DIR")) {
        g_folder = given;
        if (!QDir(QString::fromLocal8Bit(given)).exists())
            makeFolder(g_folder);
    } else {
        made = std::make_unique<QTemporaryDir>();
        g_folder = made->path().toStdString();
        makeFolder(g_folder);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
