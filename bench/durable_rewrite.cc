// Benchmark-only tool: one durable rewrite of a file, as a process of its
// own, the floor that whole runs changing that file are measured against.
//
//   durable_rewrite FILE
#include <cstdio>

#include "bench_files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: durable_rewrite FILE\n", stderr);
    return 2;
  }
  vendrel::bench::DurableRewrite(argv[1]);
  return 0;
}
