// The audio half of a player: its voice decoder and filter settings, feeding
// the one sound output of the process. The exported RKPLAYER_ audio
// functions forward to it; the player object holds one.
#pragma once

#include <cstdint>

#include "media/include/rkmedia.h"

namespace rkmedia {

class CRKPlayAudio {
public:
    CRKPlayAudio();
    ~CRKPlayAudio();
    CRKPlayAudio(const CRKPlayAudio&) = delete;
    CRKPlayAudio& operator=(const CRKPlayAudio&) = delete;

    int InitAudioDecoder(const RKPLAYER_AUDIO_PARAM& param);
    int DecodeOneAudioFrame(const uint8_t* frame, int length, uint8_t* pcmOut, int* pcmBytes);
    int UnInitAudioDecoder();
    int EnableAudioEqualizer(uint8_t enable, const RKPLAYER_EQ_PRESET& preset);
    int EnableLowPassFilter(int enable, float cutoff);
    int EnableRemoveNoise(int enable, int type);

    // The process-wide sound output.
    static int SetAudioVolume(int volume);
    static int SetAudioDecordQuit(int quit);
};

}  // namespace rkmedia
