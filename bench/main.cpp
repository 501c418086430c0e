// The one main of every benchmark program: the heap set up as the programs
// set it, then Google Benchmark's own start.
#include <benchmark/benchmark.h>

#include "imaging/heap.h"

int main(int argc, char** argv) {
  pictovance::KeepBitmapsInHeap();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
