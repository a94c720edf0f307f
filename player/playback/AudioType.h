// The media engine's audio codec numbering and the names the play window
// shows for it, and how the recorder's audio encoding codes map onto it.
#pragma once

#include <cstdint>

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

// The container readers take encoding 4 as index 1 and the mapping above otherwise.
inline int ContainerAudioType(int aEnc) { return aEnc == 4 ? 1 : RecordAudioType(aEnc); }

// Video encoding codes 2 and 3 are H.265; every other code is H.264.
inline bool IsH265Encoding(int vEnc) { return vEnc == 2 || vEnc == 3; }

}  // namespace velmor
