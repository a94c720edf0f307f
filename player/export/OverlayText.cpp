#include "player/export/OverlayText.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/CodePage.h"
#include "player/export/ExportNames.h"
#include "player/export/PositionGrid.h"
#include "player/playback/AttachPublisher.h"

namespace velmor {

std::string OverlayText(const StAttachInfo_t& record, const CPositionGrid* grid, bool mph)
{
    std::vector<std::string> lines;
    lines.push_back(RecorderTimeText(record.time.get()));
    lines.push_back(SpeedText(int(record.speed.get()), mph));
    if (HasPosition(record)) {
        double lat = CoordinateDegrees(record.latitude.get());
        double lon = CoordinateDegrees(record.longitude.get());
        double x = lon, y = lat;
        if (grid && grid->Correct(lon, lat, &x, &y) == CPositionGrid::kCorrected) {
            lon = x;
            lat = y;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%c%.5f %c%.5f", lat < 0 ? 'S' : 'N', std::fabs(lat), lon < 0 ? 'W' : 'E',
                      std::fabs(lon));
        lines.push_back(text);
    } else {
        lines.push_back("no position");
    }
    for (const auto& name : record.event) {
        const std::string gbk(name, strnlen(name, sizeof name));
        if (!gbk.empty()) lines.push_back(GbkToUtf8(gbk));
    }
    // Joined and cut as the windows' text is, in the recorder's code page.
    const std::string gbk = OsdText(record.time.get(), [&](uint32_t) { return lines; });
    return GbkToUtf8(gbk);
}

bool COverlayTexts::Flush()
{
    while (!m_held.empty()) {
        if (!m_sink(m_held.front().frame, m_text)) return false;
        m_held.pop_front();
    }
    return true;
}

bool COverlayTexts::Picture(const SourceFrame& picture)
{
    const uint32_t second = uint32_t(picture.wallMs / 1000);
    if (!m_held.empty() && second != m_heldSecond && !Flush()) return false;
    // The record of this second (or a later one) is in: nothing to wait for.
    if (m_textSecond && *m_textSecond >= second) return m_sink(picture, m_text);
    Held held{picture, std::vector<uint8_t>(picture.data, picture.data + picture.length)};
    held.frame.data = held.bytes.data();
    m_held.push_back(std::move(held));
    m_heldSecond = second;
    return true;
}

bool COverlayTexts::Record(const StAttachInfo_t& record)
{
    const uint32_t second = record.time.get();
    // A record of a later second than the waiting pictures': theirs never came.
    if (!m_held.empty() && second > m_heldSecond && !Flush()) return false;
    m_text = OverlayText(record, m_grid, m_mph);
    m_textSecond = second;
    return Flush();
}

}  // namespace velmor
