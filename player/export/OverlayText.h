// The text burned into the pictures of an export's overlay copy: for each
// picture, what the attached record of its second says (recorder time,
// speed, position, event names), laid out as the play windows' on-screen
// text.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "player/formats/AttachInfo.h"
#include "player/playback/FrameSource.h"

namespace velmor {

class CPositionGrid;

// "YYYY-MM-DD hh:mm:ss,<speed> km/h,<N|S>dd.ddddd <E|W>ddd.ddddd,<event>,..."
// (UTF-8): a line each, joined and cut as the windows' on-screen text is
// (OsdText). A record without a position says "no position"; positions are
// corrected through `grid` when one is given, as the GPS exports' are. The
// speed is in miles an hour with `mph`, as the map says it (SpeedText).
std::string OverlayText(const StAttachInfo_t& record, const CPositionGrid* grid = nullptr, bool mph = false);

// Hands each picture of a clip on with the text of its second. A record may
// follow the first pictures of its second in the recording, so pictures
// wait until the record of their second (or a picture of a later second)
// comes; a second without a record keeps the last record's text, as the
// windows keep theirs; pictures before the first record get none.
class COverlayTexts {
public:
    // Returns false to stop; the failure is the sink's to tell.
    using Sink = std::function<bool(const SourceFrame& picture, const std::string& text)>;

    COverlayTexts(Sink sink, const CPositionGrid* grid, bool mph = false)
        : m_sink(std::move(sink)), m_grid(grid), m_mph(mph)
    {
    }

    // The picture's bytes are copied while it waits.
    bool Picture(const SourceFrame& picture);
    bool Record(const StAttachInfo_t& record);
    // The pictures still waiting go with the text they have.
    bool Finish() { return Flush(); }

private:
    bool Flush();

    struct Held {
        SourceFrame frame;
        std::vector<uint8_t> bytes;
    };
    Sink m_sink;
    const CPositionGrid* m_grid;
    bool m_mph;
    std::deque<Held> m_held;  // pictures of one second
    uint32_t m_heldSecond = 0;
    std::optional<uint32_t> m_textSecond;  // of the record the text comes from
    std::string m_text;
};

}  // namespace velmor
