// Lines of the file-system library: "operation:line text", the operation
// being the exported function's name, handed to the library's log callback.
// SFS_LOG marks why a call fails (it becomes the last error text); SFS_INFO
// what a call reports on its way (arguments, progress, dumps).
#pragma once

#include "store/format/RkFormat.h"

#define SFS_LOG(name, fmt, ...) ::rkfs::LogLine("%s:%d " fmt, name, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define SFS_INFO(name, fmt, ...) ::rkfs::LogInfo("%s:%d " fmt, name, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
