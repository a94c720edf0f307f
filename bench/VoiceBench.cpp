// Benchmark of voice decoding.
#include "bench/Bench.h"

namespace velmor::bench {

int RunVoiceBench() { return 0; }

}  // namespace velmor::bench
