// Stamping a company file against a bare loop making the same system calls.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/console_stream.h"
#include "bench_files.h"
#include "company/company_stamp.h"
#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/posix_files.h"
#include "support/discarding_console.h"

namespace vendrel::bench {
namespace {

constexpr std::size_t kRecord = 359;

std::string MakeCompanyFile(const ScratchDir& dir, std::int64_t records) {
  std::filesystem::create_directories(dir / "f:/KOVA");
  std::string path = dir / "f:/KOVA/dromfile.dat";
  std::string record(kRecord, 'r');
  record[0] = 8;
  {
    std::ofstream out(path, std::ios::binary);
    for (std::int64_t i = 0; i < records; ++i) out << record;
  }
  Settle(path);
  return path;
}

void BM_StampCompanyFile(benchmark::State& state) {
  ScratchDir dir;
  MakeCompanyFile(dir, state.range(0));
  platform::DriveMap drives(dir.path());
  platform::PosixFiles files(drives);
  testing::DiscardingConsole console;
  for (auto _ : state) {
    ConsoleStream out(console);
    StampCompanyFile("2.10", "F:", files, out);
    out.Flush();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The floor: per record a size query, a positioned read and a positioned
// write, and its line through a 128-byte output block.
void BM_StampBaseline(benchmark::State& state) {
  ScratchDir dir;
  std::string path = MakeCompanyFile(dir, state.range(0));
  char buffer[kRecord];
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDWR);
    std::string block;
    for (std::int64_t index = 1;; ++index) {
      struct stat st;
      fstat(fd, &st);
      if (index >= st.st_size / static_cast<off_t>(kRecord)) break;
      const off_t at = index * static_cast<off_t>(kRecord);
      if (pread(fd, buffer, kRecord, at) != static_cast<ssize_t>(kRecord)) std::abort();
      buffer[122] = 4;
      if (pwrite(fd, buffer, kRecord, at) != static_cast<ssize_t>(kRecord)) std::abort();
      block += "Updated TARVEL" + std::to_string(index) + ": " +
               std::string(buffer + 1, static_cast<unsigned char>(buffer[0])) + "\r\n";
      if (block.size() >= 128) {
        benchmark::DoNotOptimize(block.data());
        block.erase(0, block.size() - block.size() % 128);
      }
    }
    close(fd);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_StampCompanyFile)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StampBaseline)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);

}  // namespace vendrel::bench
