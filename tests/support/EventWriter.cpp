#include "tests/support/EventWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "common/ByteOrder.h"
#include "player/formats/IfvFile.h"

namespace velmor::fixtures {

std::vector<uint8_t> EventFileBytes(const EventFileSpec& layout)
{
    std::vector<uint8_t> out(kEventHeaderSize + layout.blocks.size() * kEventBlockSize, 0);
    StEventFileHeader_t header{};
    std::memcpy(header.magic, layout.magic.data(), std::min<size_t>(layout.magic.size(), sizeof header.magic));
    for (size_t k = 0; k < kEventInputNames; ++k)
        std::memcpy(header.inputNames[k], layout.inputNames[k].data(),
                    std::min(layout.inputNames[k].size(), kEventInputNameSize));
    std::memcpy(out.data(), &header, sizeof header);

    for (size_t b = 0; b < layout.blocks.size(); ++b) {
        const EventBlockSpec& block = layout.blocks[b];
        std::vector<uint8_t> body;
        for (const EventGroupSpec& group : block.groups) {
            StEventGroupHead_t head{};
            head.beginPos.set(group.beginPos);
            head.unitCount.set(group.unitCount.value_or(uint16_t(group.units.size())));
            const auto* h = reinterpret_cast<const uint8_t*>(&head);
            body.insert(body.end(), h, h + sizeof head);
            for (const EventUnitSpec& u : group.units) {
                StEventUnit_t unit{};
                unit.type = u.type;
                unit.channel = u.channel;
                unit.beginTime.set(u.begin);
                unit.endTime.set(u.end);
                const auto* p = reinterpret_cast<const uint8_t*>(&unit);
                body.insert(body.end(), p, p + sizeof unit);
            }
        }
        StEventBlockHead_t head{};
        head.fileId.set(block.fileId);
        head.groupCount.set(block.groupCount.value_or(uint16_t(block.groups.size())));
        uint8_t* at = out.data() + kEventHeaderSize + b * kEventBlockSize;
        std::memcpy(at, &head, sizeof head);
        if (!body.empty()) std::memcpy(at + sizeof head, body.data(), std::min(body.size(), kEventBlockBudget));
    }
    out.resize(out.size() - std::min(layout.cut, out.size()));
    return out;
}

void WriteEventFile(const std::filesystem::path& path, const EventFileSpec& layout)
{
    const auto bytes = EventFileBytes(layout);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> SmallIfvImage(const std::filesystem::path& scratch, uint32_t begin, uint16_t eventChannel,
                                   uint32_t frames)
{
    FILEHANDLE* w = RK_OpenFile2(scratch.c_str(), 0, RK_FILE_MODE_WRITE);
    if (!w) throw std::runtime_error("cannot write " + scratch.string());
    RK_FileSetVideoParam(w, 352, 288, 25.0f, 0);
    RK_FileSetStartTime(w, begin);
    for (uint32_t i = 0; i < frames; ++i) {
        const uint8_t payload[8] = {0, 0, 0, 1, 0x65, uint8_t(i), 0x11, 0x22};
        RK_FileWriteVideoFrame(w, payload, sizeof payload, i * 1000, 5, (uint64_t(begin) + i) * 1000000, nullptr);
    }
    if (RK_CloseFile2(w) != 0) throw std::runtime_error("cannot finish " + scratch.string());
    std::ifstream in(scratch, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The event channel is a field of the file properties at the image's byte 66.
    if (bytes.size() < 68) throw std::runtime_error("short IFV image");
    StoreLE16(bytes.data() + 66, eventChannel);
    return bytes;
}

void WriteFlyFile(const std::filesystem::path& path, const std::vector<FlyImage>& images)
{
    std::vector<uint8_t> out;
    const auto scratch = path.string() + ".scratch";
    for (const FlyImage& image : images) {
        const auto bytes = SmallIfvImage(scratch, image.begin, image.eventChannel);
        if (out.size() < image.pos + bytes.size()) out.resize(image.pos + bytes.size(), 0);
        std::copy(bytes.begin(), bytes.end(), out.begin() + image.pos);
    }
    std::filesystem::remove(scratch);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
}

}  // namespace velmor::fixtures
