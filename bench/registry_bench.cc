// The write step (four values) on large registry stores of three shapes
// against four durable rewrites of the same store.
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "platform/posix/store_registry.h"
#include "settings/installation_values.h"

namespace vendrel::bench {
namespace {

using StoreShape = std::string (*)(std::size_t values);

std::string InKeysOf100(std::size_t values) { return RegistryStore(values, 100); }
std::string InKeysOf10(std::size_t values) { return RegistryStore(values, 10); }

void WriteStep(benchmark::State& state, StoreShape shape) {
  ScratchDir dir;
  const std::string path = dir / "registry.reg";
  WriteFile(path, shape(static_cast<std::size_t>(state.range(0))));
  Settle(path);
  for (auto _ : state) {
    // As in a run: the read step has read the store before the write step.
    state.PauseTiming();
    platform::StoreRegistry registry(path);
    ReadSettingsValues(registry, platform::RootKey::kLocalMachine);
    state.ResumeTiming();
    WriteSettingsValues(registry, platform::RootKey::kLocalMachine, ComposeNewValues("F"), "");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void WriteStepFloor(benchmark::State& state, StoreShape shape) {
  ScratchDir dir;
  const std::string path = dir / "registry.reg";
  WriteFile(path, shape(static_cast<std::size_t>(state.range(0))));
  Settle(path);
  for (auto _ : state) {
    for (int value = 0; value < 4; ++value) DurableRewrite(path);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_WriteStep(benchmark::State& state) { WriteStep(state, InKeysOf100); }
void BM_WriteStepBaseline(benchmark::State& state) { WriteStepFloor(state, InKeysOf100); }
void BM_WriteStepSmallKeys(benchmark::State& state) { WriteStep(state, InKeysOf10); }
void BM_WriteStepSmallKeysBaseline(benchmark::State& state) { WriteStepFloor(state, InKeysOf10); }
void BM_WriteStepProductKey(benchmark::State& state) { WriteStep(state, ProductKeyStore); }
void BM_WriteStepProductKeyBaseline(benchmark::State& state) {
  WriteStepFloor(state, ProductKeyStore);
}

}  // namespace

BENCHMARK(BM_WriteStep)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteStepBaseline)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteStepSmallKeys)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteStepSmallKeysBaseline)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteStepProductKey)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteStepProductKeyBaseline)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace vendrel::bench
