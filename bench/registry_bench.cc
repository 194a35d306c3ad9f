// The write step (four values) on large registry stores of three shapes
// against four durable rewrites of the same store.
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "platform/posix/registry/hive/hive_registry.h"
#include "platform/posix/registry/store_registry.h"
#include "settings/installation_values.h"
#include "support/hive_maker.h"

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

// A SOFTWARE hive of the given number of values in vendors' keys of ten,
// the product's key among them: 300,000 values make about 30 MB.
std::string SoftwareHive(std::size_t values) {
  testing::HiveKey root{"ROOT", {}, {}, {}};
  root.Child("Tarvel Global").values = {
      {"Drive", platform::kRegSz, testing::Utf16Text("C:")},
      {"InstPath", platform::kRegSz, testing::Utf16Text("C:\\KOVA32")}};
  for (std::size_t k = 0; k < values / 10; ++k) {
    testing::HiveKey& key =
        root.Child("Vendor" + std::to_string(k / 100)).Child("Product" + std::to_string(k));
    for (int v = 0; v < 10; ++v) {
      key.values.push_back({"Setting" + std::to_string(v), platform::kRegSz,
                            testing::Utf16Text("some setting text " + std::to_string(v))});
    }
  }
  return testing::MakeHive(root);
}

void BM_HiveWriteStep(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = dir / "SOFTWARE";
  const std::string hive = SoftwareHive(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    // Each write step starts from the hive as made, so that the hive does
    // not grow from one pass to the next.
    state.PauseTiming();
    WriteFile(path, hive);
    Settle(path);
    platform::HiveRegistry registry(path, platform::HiveRegistry::Contents::kSoftware,
                                    platform::CodePage::Make(1252));
    ReadSettingsValues(registry, platform::RootKey::kLocalMachine);
    state.ResumeTiming();
    WriteSettingsValues(registry, platform::RootKey::kLocalMachine, ComposeNewValues("F"), "");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(hive.size()));
}

void BM_HiveWriteStepBaseline(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = dir / "SOFTWARE";
  const std::string hive = SoftwareHive(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, hive);
    Settle(path);
    state.ResumeTiming();
    for (int value = 0; value < 4; ++value) DurableRewrite(path);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(hive.size()));
}

}  // namespace

BENCHMARK(BM_HiveWriteStep)
    ->Arg(300)
    ->Arg(3000)
    ->Arg(30000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HiveWriteStepBaseline)
    ->Arg(300)
    ->Arg(3000)
    ->Arg(30000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond);
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
