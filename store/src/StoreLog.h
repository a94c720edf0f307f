// Lines of the file-system library: "operation:line text", the operation
// being the exported function's name, handed to the library's log callback.
// SFS_LOG marks why a call fails (it becomes the last error text); SFS_INFO
// what a call reports on its way (arguments, progress, dumps).
#pragma once

#include <cerrno>
#include <cstring>
#include <new>

#include "common/LibraryLog.h"
#include "store/format/RkFormat.h"

#define SFS_LOG(name, fmt, ...) ::rkfs::LogLine("%s:%d " fmt, name, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define SFS_INFO(name, fmt, ...) ::rkfs::LogInfo("%s:%d " fmt, name, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace rkstore {

// Runs an exported call so that no exception leaves the library; running out
// of memory gets the library's errno line as well.
template <typename F>
auto Guarded(F&& body, std::invoke_result_t<F&> onError = -1) noexcept -> std::invoke_result_t<F&>
{
    return velmor::Guarded(velmor::LogLibrary::Store, onError, [&]() -> std::invoke_result_t<F&> {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            SFS_LOG("rkstore", "errno = %d, means: %s\n", ENOMEM, std::strerror(ENOMEM));
            return onError;
        }
    });
}

}  // namespace rkstore
