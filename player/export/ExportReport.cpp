#include "player/export/ExportReport.h"

extern "C" {
#include <libavutil/sha.h>
#include <libavutil/mem.h>
}

#include <nlohmann/json.hpp>

#include <fstream>
#include <memory>

#include "player/export/ExportNames.h"

namespace velmor {

std::string FileSha256(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::unique_ptr<AVSHA, decltype(&av_free)> sha(av_sha_alloc(), &av_free);
    if (!sha || av_sha_init(sha.get(), 256) < 0) return {};
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const auto got = in.gcount();
        if (got > 0) av_sha_update(sha.get(), reinterpret_cast<const uint8_t*>(buffer.data()), size_t(got));
    }
    if (in.bad()) return {};
    uint8_t digest[32];
    av_sha_final(sha.get(), digest);
    static const char* const kHex = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

void CExportReport::AddFrames(const ExportFrameCounts& counts)
{
    m_frames.video += counts.video;
    m_frames.audio += counts.audio;
    m_frames.info += counts.info;
}

std::string CExportReport::Json() const
{
    nlohmann::ordered_json j;
    j["sources"] = m_sources;
    j["from"] = m_from;
    j["from_text"] = RecorderTimeText(m_from);
    j["to"] = m_to;
    j["to_text"] = RecorderTimeText(m_to);
    j["format"] = m_format;
    j["channels"] = m_channels;
    j["frames"] = {{"video", m_frames.video}, {"audio", m_frames.audio}, {"info", m_frames.info}};
    auto files = nlohmann::ordered_json::array();
    for (const auto& f : m_files) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(f, ec);
        files.push_back({{"path", f.string()}, {"bytes", ec ? 0 : size}, {"sha256", FileSha256(f)}});
    }
    j["files"] = files;
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::filesystem::path CExportReport::Save(std::string* error) const
{
    if (m_files.empty()) {
        if (error) *error = "nothing was exported";
        return {};
    }
    const auto& first = m_files.front();
    const auto path = FreePath(first.parent_path() / (first.stem().string() + ".report.json"));
    const std::string text = Json();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    out.flush();
    if (!out) {
        out.close();
        std::error_code ec;
        std::filesystem::remove(path, ec);
        if (error) *error = "Error writing file";
        return {};
    }
    return path;
}

}  // namespace velmor
