// Drives a record file reader to its end (or a bound) and through a few seeks.
#pragma once

#include <cstdlib>
#include <vector>

#include "store/include/rkstore.h"

namespace velmor::fuzz {

template <typename Op, typename ReadFn, typename SeekFn>
void ExerciseRecordFile(Op& op, const StRecFileInfo_t& info, ReadFn read, SeekFn seek)
{
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    auto readSome = [&](int limit) {
        for (int i = 0; i < limit; ++i) {
            RKSFS_FRAME_HEAD head{};
            const int rc = read(&op, buffer.data(), buffer.size(), &head);
            if (rc <= 0) break;
            if (uint32_t(rc) != head.length || head.length > RKSFS_MAX_FRAME_SIZE) std::abort();
        }
    };
    readSome(20000);
    for (uint32_t tm : {info.beginTime, info.beginTime + (info.endTime - info.beginTime) / 2, info.endTime,
                        info.endTime + 1, info.beginTime - 1}) {
        if (seek(&op, tm) == 0) readSome(50);
    }
}

}  // namespace velmor::fuzz
