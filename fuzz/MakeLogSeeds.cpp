// Writes seed inputs for fuzz_log: recorder logs made by the fixture writer
// (both rings, a wrapped log, empty slots, unknown types, GBK remarks, a short
// last piece), each behind a query.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/CodePage.h"
#include "fuzz/FuzzLogInput.h"
#include "tests/support/LogWriter.h"

using namespace velmor;
using namespace velmor::fixtures;
using namespace velmor::fuzz;

namespace {

constexpr uint32_t kT0 = 1765188000;

void Write(const std::filesystem::path& dir, const std::string& name, const LogInput& in)
{
    const auto bytes = EncodeLogInput(in);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       std::streamsize(bytes.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const uint8_t types[] = {0x00, 0x03, 0x10, 0x1B, 0x22, 0x36, 0x47, 0x55, 0x67, 0x9F};

    LogInput in;
    in.query = DefaultLogQuery(kT0);
    CLogFileImage wrapped(40);
    for (uint32_t i = 0; i < 57; ++i)
        wrapped.Append(MakeLogRecord(types[i % 10], kT0 + i * 13, Utf8ToGbk(" 记录 " + std::to_string(i) + "\r\n")));
    in.file = LogFileBytes(wrapped.Slots());
    Write(dir, "wrapped", in);

    CLogFileImage sparse(30);
    for (uint32_t i = 0; i < 12; ++i) sparse.Append(MakeLogRecord(types[(i * 3) % 10], kT0 - i * 100, "r"));
    in.file = LogFileBytes(sparse.Slots());
    in.file.resize(in.file.size() + 20, 0x10);  // a short last piece
    in.query.mode = 1;
    in.query.typeFilter = 0x30;
    Write(dir, "empty-slots", in);

    std::vector<StLogRecord_t> many;
    for (uint32_t i = 0; i < 530; ++i) many.push_back(MakeLogRecord(uint8_t(0x10 + i % 3), kT0 + i / 4, std::string(27, 'x')));
    in.file = LogFileBytes(many);
    in.query.mode = 2;
    in.query.start = kT0 + 10;
    in.query.end = kT0 + 100;
    Write(dir, "ring-wraps", in);
    return 0;
}
