// The write step (four values) on a large registry store against four safe
// rewrites of it.
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "platform/posix/store_registry.h"
#include "settings/installation_values.h"

namespace vendrel::bench {
namespace {

void BM_WriteStep(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = dir / "registry.reg";
  WriteFile(path, RegistryStore(static_cast<std::size_t>(state.range(0))));
  platform::StoreRegistry registry(path);
  for (auto _ : state) {
    WriteSettingsValues(registry, platform::RootKey::kLocalMachine, ComposeNewValues("F"), "");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_WriteStepBaseline(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = dir / "registry.reg";
  WriteFile(path, RegistryStore(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    for (int value = 0; value < 4; ++value) ReadCopyFlushRename(path);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_WriteStep)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteStepBaseline)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace vendrel::bench
