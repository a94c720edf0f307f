#include "tests/support/EventFileWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace velmor::fixtures {

using namespace evt;

size_t EventBlockPayload(const EventBlock& block)
{
    size_t n = 0;
    for (const EventGroup& g : block.groups) n += sizeof(StEventGroupHead_t) + g.units.size() * sizeof(StEventUnit_t);
    return n;
}

void CEventFileImage::SetInputName(size_t input, const std::string& name)
{
    m_names.at(input) = name.substr(0, kInputNameSize - 1);
}

void CEventFileImage::AddBlock(EventBlock block)
{
    if (EventBlockPayload(block) > kBlockBudget) throw std::invalid_argument("event groups do not fit into one block");
    for (const EventGroup& g : block.groups)
        if (g.units.size() > 0xFFFF) throw std::invalid_argument("too many units in one event group");
    m_blocks.push_back(std::move(block));
}

std::vector<uint8_t> CEventFileImage::Bytes() const
{
    std::vector<uint8_t> bytes(kHeaderSize + kBlockSize * m_blocks.size(), 0);
    StEventFileHeader_t header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    for (size_t k = 0; k < kInputNames; ++k)
        std::memcpy(header.inputNames[k], m_names[k].data(), m_names[k].size());
    std::memcpy(bytes.data(), &header, sizeof header);

    for (size_t b = 0; b < m_blocks.size(); ++b) {
        const EventBlock& block = m_blocks[b];
        uint8_t* out = bytes.data() + kHeaderSize + b * kBlockSize;
        StEventBlockHead_t head{};
        head.fileId.set(block.fileId);
        head.groupCount.set(uint16_t(block.groups.size()));
        std::memcpy(out, &head, sizeof head);
        out += sizeof head;
        for (const EventGroup& g : block.groups) {
            StEventGroupHead_t gh{};
            gh.beginPos.set(g.beginPos);
            gh.unitCount.set(uint16_t(g.units.size()));
            std::memcpy(out, &gh, sizeof gh);
            out += sizeof gh;
            for (const EventUnit& u : g.units) {
                StEventUnit_t unit{};
                unit.type = u.type;
                unit.channel = u.channel;
                unit.beginTime.set(u.begin);
                unit.endTime.set(u.end);
                std::memcpy(out, &unit, sizeof unit);
                out += sizeof unit;
            }
        }
    }
    return bytes;
}

void CEventFileImage::Save(const std::filesystem::path& path) const
{
    const auto bytes = Bytes();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace velmor::fixtures
