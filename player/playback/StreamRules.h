// How the play window reads a recording's stream parameters: the media
// engine's audio codec numbering and the names it shows, how the recorder's
// audio codes and IFV audio tags map onto it, which video codes are H.265,
// and the frame rate of an IFV file.
#pragma once

#include <cctype>
#include <cstdint>
#include <string_view>

#include "player/formats/IfvFormat.h"

namespace velmor {

inline const char* AudioTypeName(int index)
{
    static const char* const kNames[] = {"GRAW",     "ADPCM",    "IMA",      "MG726_32K", "MG726_16K",
                                         "MG726_24K", "MG726_40K", "G726_16K", "G726_24K", "G726_32K",
                                         "G726_40K", "G711A",    "G711U"};
    return index >= 0 && index < 13 ? kNames[index] : nullptr;
}

// Audio type index of a record file's or container file's audio encoding.
// Unknown codes fall back to index 3, as the play window does.
inline int RecordAudioType(int aEnc)
{
    switch (aEnc) {
        case 5: return 2;
        case 3: return 12;
        case 2: return 11;
        case 6: return 7;
        case 10: return 4;
        case 11: return 5;
        case 13: return 6;
        case 12: return 3;
        default: return 3;
    }
}

// Audio type index of a grec file's sound: its encoding and, for G.726, its
// rate code, as the grec reader plugin reports them. An unknown encoding
// gives index 3 and clears *known, so that the caller can log it.
inline int GetTTXAudioType(int encoding, int rateCode, bool* known = nullptr)
{
    if (known) *known = true;
    switch (encoding) {
        case 7: return 12;
        case 8: return 11;
        case 2:
            switch (rateCode) {
                case 1: return 10;
                case 4: return 8;
                case 2: return 7;
                default: return 9;
            }
        case 3:
            switch (rateCode) {
                case 1: return 6;
                case 4: return 5;
                case 2: return 4;
                default: return 3;
            }
        default:
            if (known) *known = false;
            return 3;
    }
}

// The container readers take encoding 4 as index 1 and the mapping above otherwise.
inline int ContainerAudioType(int aEnc) { return aEnc == 4 ? 1 : RecordAudioType(aEnc); }

// Video encoding codes 2 and 3 are H.265; every other code is H.264.
inline bool IsH265Encoding(int vEnc) { return vEnc == 2 || vEnc == 3; }

// Audio type index of an IFV audio tag, compared without regard to case in
// table order; an unknown tag gives index 3.
inline int IfvAudioType(std::string_view tag)
{
    static const char* const kTags[] = {"GRAW", "ADPA", "ADPB", "G726", "726B", "726C", "726D",
                                        "726H", "726I", "726J", "726K", "711A", "711U"};
    for (int i = 0; i < 13; ++i) {
        const std::string_view t(kTags[i]);
        if (tag.size() != t.size()) continue;
        bool same = true;
        for (size_t k = 0; k < t.size(); ++k)
            same &= std::toupper(static_cast<unsigned char>(tag[k])) == t[k];
        if (same) return i;
    }
    return 3;
}

// An IFV file's codec codes as its reader reports them: four characters,
// the first in the low byte. "H265" is H.265, any other video code H.264.
inline bool IsH265CodecCode(uint32_t code) { return code == ifv::FourCC("H265"); }

// Audio type index of an IFV file's audio codec code (its characters up to
// the first NUL, as a tag).
inline int IfvAudioTypeOfCode(uint32_t code)
{
    const char tag[4] = {char(code), char(code >> 8), char(code >> 16), char(code >> 24)};
    size_t n = 0;
    while (n < 4 && tag[n]) ++n;
    return IfvAudioType(std::string_view(tag, n));
}

// Frame rate of an IFV file from its frame count and span: count / seconds,
// plus one when the remainder is more than 4; 25 without a span; a rate
// above 10 that is not a multiple of 5 is rounded down to one.
inline int IfvFrameRate(uint32_t frameCount, uint32_t startTime, uint32_t endTime)
{
    if (endTime <= startTime) return 25;
    const uint32_t seconds = endTime - startTime;
    uint32_t rate = frameCount / seconds;
    if (frameCount % seconds > 4) ++rate;
    if (rate > 10 && rate % 5 != 0) rate -= rate % 5;
    return int(rate);
}

}  // namespace velmor
