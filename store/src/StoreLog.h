// Failure lines of the file-system library: "operation:line text" on
// standard output, the operation being the exported function's name.
#pragma once

#include "store/format/RkFormat.h"

#define SFS_LOG(name, fmt, ...) ::rkfs::LogLine("%s:%d " fmt, name, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
