// The exported voice codec functions. They take no buffer sizes: a state is
// VOICE_STATE_SIZE bytes and a frame holds what its header claims, as the
// interface has always had it.
#include <cstring>

#include "media/include/rkvoice.h"
#include "media/src/audio/VoiceCodec.h"

namespace voice = rkmedia::voice;

extern "C" {

RKMEDIA_API int32_t VOICE_GetVersion(char* text)
{
    static constexpr char kVersion[] = "VOICE_VERSION=VOICELIB_V1.0.0.0";
    static_assert(sizeof kVersion == VOICE_VERSION_SIZE);
    if (!text) return -1;
    std::memcpy(text, kVersion, sizeof kVersion);
    return 0;
}

// Nothing below allocates or throws; the guards only keep that promise
// should it ever change.
RKMEDIA_API int32_t VOICE_EncReset(void* state, uint16_t mode)
{
    try {
        return voice::EncReset(state, mode);
    } catch (...) {
        return VOICE_ERR_NULL_STATE;
    }
}

RKMEDIA_API int32_t VOICE_DecReset(void* state, uint16_t mode)
{
    try {
        return voice::DecReset(state, mode);
    } catch (...) {
        return VOICE_ERR_NULL_STATE;
    }
}

RKMEDIA_API int32_t VOICE_EncodeFrame(void* state, const int16_t* pcm, uint8_t* frame, uint16_t samples)
{
    try {
        return voice::EncodeFrame(state, pcm, frame, samples);
    } catch (...) {
        return VOICE_ERR_ENC_MODE;
    }
}

RKMEDIA_API int32_t VOICE_DecodeFrame(void* state, const uint8_t* frame, int16_t* pcm, uint16_t* samples)
{
    try {
        // The frame holds what its header claims; no header claims more
        // than VOICE_MAX_FRAME_BYTES.
        return voice::DecodeFrame(state, frame, VOICE_MAX_FRAME_BYTES, pcm, samples);
    } catch (...) {
        return VOICE_ERR_DEC_MODE;
    }
}

RKMEDIA_API int32_t VOICE_TransCodeReset(void* state, uint16_t mode)
{
    try {
        return voice::TransCodeReset(state, mode);
    } catch (...) {
        return VOICE_ERR_TRANS_STATE;
    }
}

RKMEDIA_API int32_t VOICE_TransCodeFrame(void* state, uint8_t* frame)
{
    try {
        return voice::TransCodeFrame(state, frame);
    } catch (...) {
        return VOICE_ERR_TRANS_STATE;
    }
}

}  // extern "C"
