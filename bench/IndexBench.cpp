// Benchmark of listing partitions and index disks.
#include "bench/Bench.h"

namespace velmor::bench {

int RunIndexBench() { return 0; }

}  // namespace velmor::bench
