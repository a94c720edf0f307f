// Benchmark of mounting partitions and reading record files.
#include "bench/Bench.h"

namespace velmor::bench {

int RunStoreBench() { return 0; }

}  // namespace velmor::bench
