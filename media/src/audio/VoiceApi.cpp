// The exported voice codec functions. They take no buffer sizes: a state is
// VOICE_STATE_SIZE bytes and a frame holds what its header claims, as the
// interface has always had it.
#include <cstring>

#include "common/LibraryLog.h"
#include "media/include/rkvoice.h"
#include "media/src/audio/VoiceCodec.h"

namespace voice = rkmedia::voice;

namespace {

using velmor::Guarded;
constexpr auto kLibrary = velmor::LogLibrary::Media;

}  // namespace

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
    return Guarded(kLibrary, VOICE_ERR_NULL_STATE, [&] { return voice::EncReset(state, mode); });
}

RKMEDIA_API int32_t VOICE_DecReset(void* state, uint16_t mode)
{
    return Guarded(kLibrary, VOICE_ERR_NULL_STATE, [&] { return voice::DecReset(state, mode); });
}

RKMEDIA_API int32_t VOICE_EncodeFrame(void* state, const int16_t* pcm, uint8_t* frame, uint16_t samples)
{
    return Guarded(kLibrary, VOICE_ERR_ENC_MODE, [&] { return voice::EncodeFrame(state, pcm, frame, samples); });
}

RKMEDIA_API int32_t VOICE_DecodeFrame(void* state, const uint8_t* frame, int16_t* pcm, uint16_t* samples)
{
    // The frame holds what its header claims; no header claims more
    // than VOICE_MAX_FRAME_BYTES.
    return Guarded(kLibrary, VOICE_ERR_DEC_MODE,
                   [&] { return voice::DecodeFrame(state, frame, VOICE_MAX_FRAME_BYTES, pcm, samples); });
}

RKMEDIA_API int32_t VOICE_TransCodeReset(void* state, uint16_t mode)
{
    return Guarded(kLibrary, VOICE_ERR_TRANS_STATE, [&] { return voice::TransCodeReset(state, mode); });
}

RKMEDIA_API int32_t VOICE_TransCodeFrame(void* state, uint8_t* frame)
{
    return Guarded(kLibrary, VOICE_ERR_TRANS_STATE, [&] { return voice::TransCodeFrame(state, frame); });
}

}  // extern "C"
