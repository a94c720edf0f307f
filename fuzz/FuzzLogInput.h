// The input form of fuzz_log: a 10-byte query (mode, type filter, start and
// end second), then the bytes of a "log.bin".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/ByteOrder.h"
#include "player/search/RecorderLog.h"

namespace velmor::fuzz {

constexpr size_t kLogControlSize = 10;

struct LogInput {
    LogQuery query;
    std::vector<uint8_t> file;
};

inline LogInput ParseLogInput(const uint8_t* data, size_t size)
{
    LogInput in;
    uint8_t c[kLogControlSize] = {};
    std::memcpy(c, data, size < sizeof c ? size : sizeof c);
    in.query.mode = c[0];
    in.query.typeFilter = c[1];
    in.query.start = LoadLE32(c + 2);
    in.query.end = LoadLE32(c + 6);
    if (size > sizeof c) in.file.assign(data + sizeof c, data + size);
    return in;
}

inline std::vector<uint8_t> EncodeLogInput(const LogInput& in)
{
    std::vector<uint8_t> out(kLogControlSize);
    out[0] = in.query.mode;
    out[1] = in.query.typeFilter;
    StoreLE32(out.data() + 2, in.query.start);
    StoreLE32(out.data() + 6, in.query.end);
    out.insert(out.end(), in.file.begin(), in.file.end());
    return out;
}

}  // namespace velmor::fuzz
