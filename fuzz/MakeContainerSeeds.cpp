// Writes seed inputs for fuzz_container_file from real fixture files: the
// head areas and the data around block boundaries of recordings with split
// heads and payloads, many I frames and several channels.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fuzz/FuzzContainerInput.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

using namespace velmor::fixtures;
using namespace velmor::fuzz;

namespace {

ContainerInput Capture(const CContainerFileImage& image, const std::vector<uint32_t>& blocks, int channel, bool seek,
                       uint32_t seekTime)
{
    ContainerInput in;
    in.indexFile = image.FileNo() == 128;
    in.channel = channel;
    in.seek = seek;
    in.seekTime = seekTime;
    for (uint32_t id : blocks) {
        Piece head{rkfs::PositionOfBlock(id), 0, {}};
        head.bytes = image.ReadRaw(rkfs::HeadAreaFileOffset(head.position, image.BlockSize()), 4096);
        in.pieces.push_back(head);
        Piece start{head.position, 1, image.ReadRaw(uint64_t(head.position) * image.BlockSize(), 3000)};
        in.pieces.push_back(start);
        Piece end{head.position, 2, {}};
        end.bytes = image.ReadRaw(uint64_t(head.position + 1) * image.BlockSize() - 4096 - 3000, 3000);
        in.pieces.push_back(end);
    }
    return in;
}

void Save(const std::filesystem::path& dir, const std::string& name, const ContainerInput& in)
{
    const auto bytes = SerializeContainerInput(in);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_container_file_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    CTempDir tmp;
    const uint64_t t0 = uint64_t(1765188000) * 1000000;
    int n = 0;
    for (uint32_t fileNo : {1u, 128u}) {
        for (uint32_t leave : {0u, 5u, 16u, 200u}) {
            CContainerFileImage image(tmp / CContainerFileImage::FileName(fileNo), fileNo);
            RecordingParams params;
            params.channel = uint8_t(leave % 16);
            params.carNumber = "SEED";
            CRecordWriter w(image, params);
            auto p = MakePayload(leave, 1500);
            w.WriteFrame(1, t0, p.data(), 1500);
            for (int i = 1; i < 20; ++i) w.WriteFrame(i % 5 == 0 ? 1 : 2, t0 + uint64_t(i) * 250000, p.data(), 1500);
            w.FillBlockLeaving(leave, 4, t0 + 5000000, 9);
            for (int i = 21; i < 30; ++i) w.WriteFrame(i % 5 == 0 ? 1 : 3, t0 + uint64_t(i) * 250000, p.data(), 1500);
            w.Close();
            Save(out, "seed-" + std::to_string(n++), Capture(image, w.Blocks(), params.channel, false, 0));
            Save(out, "seed-" + std::to_string(n++),
                 Capture(image, w.Blocks(), params.channel, true, 1765188000 + leave % 7));
        }
    }
    std::fprintf(stderr, "make_container_file_seeds: %d seeds in %s\n", n, out.c_str());
    return 0;
}
