// The multi-channel combiner: the per-channel MP4 files of one export tiled
// into one picture on black in an FFmpeg filter graph, their sound mixed,
// encoded and written to one file in a single synchronous run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "media/include/rkmedia.h"

namespace rkmedia {

struct CombineOutputSettings {
    std::string path;
    int width = 0;
    int height = 0;
    int videoType = 0;  // 1 H.265, other H.264
    int inputs = 0;
    int cells = 0;
    int bitRate = 400000;
    int64_t spanMs = 0;  // 0: as long as the inputs last
};

class CCombineMp4 {
public:
    CCombineMp4() = default;
    CCombineMp4(const CCombineMp4&) = delete;
    CCombineMp4& operator=(const CCombineMp4&) = delete;

    void SetOutput(const CombineOutputSettings& settings) { m_output = settings; }
    // Path and position of each record; effects start at 0. 0 / -1.
    int SetInputs(const RKPLAYER_COMBINE_INPUT* inputs, int count);
    // 0, or -1 for an effect other than 0, 1 and 2 or an index out of range.
    int SetEffect(int index, int effect);
    // Where input `index`'s first picture lies on the span's clock, in ms.
    // 0, or -1 for an index out of range.
    int SetStart(int index, int64_t startMs);
    // 0, or -1 for a negative span.
    int SetSpan(int64_t spanMs);
    // Opens, combines and closes everything. 0 when the output file was
    // finished, else a negative error; a failed run leaves no output file.
    int Run();

    const CombineOutputSettings& Output() const { return m_output; }
    const RKPLAYER_COMBINE_INPUT& Input(int index) const { return m_inputs[size_t(index)]; }

    // Grid side: the integer square root of the cell count.
    static int GridSide(int cells);
    // The filter graph descriptions for the settings and the inputs' positions
    // and effects ("" for an effect the graph has no step for).
    static std::string VideoGraph(int width, int height, int cells, const std::vector<RKPLAYER_COMBINE_INPUT>& inputs);
    static std::string AudioGraph(int inputs);

private:
    std::array<RKPLAYER_COMBINE_INPUT, RKPLAYER_COMBINE_MAX_INPUTS> m_inputs{};
    std::array<int64_t, RKPLAYER_COMBINE_MAX_INPUTS> m_startMs{};
    int m_nInputsSet = 0;
    CombineOutputSettings m_output;
};

}  // namespace rkmedia
