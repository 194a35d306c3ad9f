// The database step on large settings files of two shapes against five
// durable rewrites of the same file, one for each call that changes it.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "app/console_stream.h"
#include "bench_files.h"
#include "platform/posix/files/drive_map.h"
#include "platform/posix/profile/posix_profile.h"
#include "settings/shared_settings_file.h"
#include "support/discarding_console.h"

namespace vendrel::bench {
namespace {

using SettingsShape = std::string (*)(std::size_t bytes);

void DatabaseStep(benchmark::State& state, SettingsShape shape) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "f:/kova");
  const std::string path = dir / "f:/kova/kelvarini.dat";
  const std::string original = shape(static_cast<std::size_t>(state.range(0)));
  platform::DriveMap drives(dir.path());
  platform::PosixProfileWriter writer(drives);
  testing::DiscardingConsole console;
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, original);
    Settle(path);
    ConsoleStream out(console);
    ScrambleGenerator generator;
    state.ResumeTiming();
    StoreDatabaseName("F:", "clinic", writer, generator, out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(original.size()));
}

void DatabaseStepFloor(benchmark::State& state, SettingsShape shape) {
  ScratchDir dir;
  const std::string path = dir / "kelvarini.dat";
  const std::string original = shape(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, original);
    Settle(path);
    state.ResumeTiming();
    for (int change = 0; change < 5; ++change) DurableRewrite(path);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(original.size()));
}

void BM_DatabaseStep(benchmark::State& state) { DatabaseStep(state, SettingsFile); }
void BM_DatabaseStepBaseline(benchmark::State& state) { DatabaseStepFloor(state, SettingsFile); }
void BM_DatabaseStepSmallSections(benchmark::State& state) {
  DatabaseStep(state, SettingsFileOfSmallSections);
}
void BM_DatabaseStepSmallSectionsBaseline(benchmark::State& state) {
  DatabaseStepFloor(state, SettingsFileOfSmallSections);
}

}  // namespace

BENCHMARK(BM_DatabaseStep)
    ->Arg(5000)
    ->Arg(50000)
    ->Arg(500000)
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatabaseStepBaseline)
    ->Arg(5000)
    ->Arg(50000)
    ->Arg(500000)
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatabaseStepSmallSections)
    ->Arg(5000)
    ->Arg(50000)
    ->Arg(500000)
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatabaseStepSmallSectionsBaseline)
    ->Arg(5000)
    ->Arg(50000)
    ->Arg(500000)
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond);

}  // namespace vendrel::bench
