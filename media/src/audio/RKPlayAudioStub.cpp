// Placeholder until the sound side lands: every call succeeds and plays nothing.
#include "media/src/audio/RKPlayAudio.h"

namespace rkmedia {

CRKPlayAudio::CRKPlayAudio() = default;
CRKPlayAudio::~CRKPlayAudio() = default;
int CRKPlayAudio::InitAudioDecoder(const RKPLAYER_AUDIO_PARAM&) { return 0; }
int CRKPlayAudio::DecodeOneAudioFrame(const uint8_t*, int, uint8_t*, int* pcmBytes)
{
    if (pcmBytes) *pcmBytes = 0;
    return 0;
}
int CRKPlayAudio::UnInitAudioDecoder() { return 0; }
int CRKPlayAudio::EnableAudioEqualizer(uint8_t, const RKPLAYER_EQ_PRESET&) { return 0; }
int CRKPlayAudio::EnableLowPassFilter(int, float) { return 0; }
int CRKPlayAudio::EnableRemoveNoise(int, int) { return 0; }
int CRKPlayAudio::SetAudioVolume(int) { return 0; }
int CRKPlayAudio::SetAudioDecordQuit(int) { return 0; }

}  // namespace rkmedia
