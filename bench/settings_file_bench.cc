// The database step on a large settings file against five safe rewrites of
// it, one for each call that changes the file.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "app/console_stream.h"
#include "bench_files.h"
#include "platform/fake/memory_console.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/posix_profile.h"
#include "settings/shared_settings_file.h"

namespace vendrel::bench {
namespace {

void BM_DatabaseStep(benchmark::State& state) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "f:/kova");
  const std::string path = dir / "f:/kova/kelvarini.dat";
  const std::string original = SettingsFile(static_cast<std::size_t>(state.range(0)));
  platform::DriveMap drives(dir.path());
  platform::PosixProfileWriter writer(drives);
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, original);
    platform::MemoryConsole console;
    ConsoleStream out(console);
    ScrambleGenerator generator;
    state.ResumeTiming();
    StoreDatabaseName("F:", "clinic", writer, generator, out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(original.size()));
}

void BM_DatabaseStepBaseline(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = dir / "kelvarini.dat";
  const std::string original = SettingsFile(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, original);
    state.ResumeTiming();
    for (int change = 0; change < 5; ++change) ReadCopyFlushRename(path);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(original.size()));
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

}  // namespace vendrel::bench
