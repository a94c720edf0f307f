// Writes seed inputs for fuzz_index: index files made by the fixture writer
// (wrapped rings, version 1 with channels and class bits, only a current-file
// table), each behind a control block that tries another filter or layout.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzIndexInput.h"
#include "tests/support/IndexWriter.h"

using namespace velmor::fixtures;
using namespace velmor::fuzz;

namespace {

constexpr uint32_t kT0 = 1765188000;

std::vector<uint8_t> Recorded(uint32_t n, uint8_t version, int records, int channels)
{
    CIndexDiskWriter writer(n, version);
    for (int i = 0; i < records; ++i) {
        IndexSegment s;
        s.channel = uint8_t(1 + i % channels);
        s.flags = uint8_t((1 << (i % 4)) | (i % 3 == 0 ? 0x80 : 0));
        s.begin = kT0 + uint32_t(i) * 30;
        s.end = s.begin + 29;
        s.beginOffset = uint32_t(i) * 4096;
        s.endOffset = s.beginOffset + 4000;
        s.label = "seg" + std::to_string(i);
        writer.Add(s);
    }
    return writer.Image().Bytes();
}

void Write(const std::filesystem::path& dir, const std::string& name, const IndexInput& in)
{
    const auto bytes = EncodeIndexInput(in);
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

    IndexInput in;
    in.file = Recorded(2, 0, 40, 2);
    Write(dir, "small", in);

    in.file = Recorded(3, 0, 256 * 5 + 3, 2);  // the ring wrapped
    Write(dir, "wrapped", in);
    in.flags = kAsBackup;
    Write(dir, "wrapped-backup", in);
    in.flags = kNamesFile | kFixChecksum;
    in.chnMask = 0x0002;
    in.typeMask = 0x05;
    in.startTime = kT0 + 3000;
    in.endTime = kT0 + 9000;
    Write(dir, "wrapped-filtered", in);

    in = IndexInput{};
    in.file = Recorded(5, 1, 600, 2);  // a ring entry per channel and the current areas
    in.classFilter = 0;
    Write(dir, "version1-class", in);
    in.classFilter = 1;
    in.chnMask = 0x0005;
    in.capacity = 7;
    Write(dir, "version1-plain-small-buffer", in);

    in = IndexInput{};
    CIndexImage current(2);
    IndexSegment s;
    s.channel = 4;
    s.begin = kT0;
    s.end = kT0 + 60;
    s.endOffset = 100;
    current.SetCurrent(3, 1, 0, kT0, kT0 + 60);
    current.SetRecords(1, {s});
    in.file = current.Bytes();
    Write(dir, "current-only", in);

    in = IndexInput{};
    in.flags = kFixLength | kFixChecksum;
    in.file.assign(rkindex::kHeaderSize, 0);
    in.file[16] = 3;
    in.file[24] = 2;
    Write(dir, "mended-header", in);
    return 0;
}
