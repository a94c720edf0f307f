#include "media/src/audio/RKPlayAudio.h"

#include <cstring>

#include "media/src/MediaGlobals.h"
#include "media/src/audio/AudioDiag.h"
#include "media/src/audio/SingletonPlayAudio.h"
#include "media/src/audio/VoiceCodec.h"

namespace rkmedia {

CRKPlayAudio::CRKPlayAudio() = default;
CRKPlayAudio::~CRKPlayAudio() = default;

uint16_t CRKPlayAudio::VoiceModeFor(int compress)
{
    switch (compress) {
        case 1: return VOICE_MODE_IMA;
        case 2: return VOICE_MODE_DVI4;
        case 4: return VOICE_MODE_G726_16_MSB;
        case 5: return VOICE_MODE_G726_24_MSB;
        case 6: return VOICE_MODE_G726_40_MSB;
        case 7: return VOICE_MODE_G726_16;
        case 8: return VOICE_MODE_G726_24;
        case 9: return VOICE_MODE_G726_32;
        case 10: return VOICE_MODE_G726_40;
        case 11: return VOICE_MODE_G711A;
        case 12: return VOICE_MODE_G711U;
        default: return VOICE_MODE_G726_32_MSB;  // 3, and anything unknown
    }
}

// ---- Set-up -----------------------------------------------------------------------------

int CRKPlayAudio::InitAudioDecoder(const RKPLAYER_AUDIO_PARAM& param) { return RKPLAY_InitAudioParam(param); }

int CRKPlayAudio::RKPLAY_InitAudioParam(const RKPLAYER_AUDIO_PARAM& param)
{
    std::lock_guard lock(m_audioLock);
    // A player that never set a decoder up has nothing to keep, whatever its
    // (zeroed) record says.
    if (m_bDecoderSet && param.sampleRate == m_param.sampleRate && param.bits == m_param.bits &&
        param.compress == m_param.compress) {
        AudioDiag("Already Init");
        return 0;
    }
    m_param = param;
    m_bDecoderSet = false;
    std::memset(m_voiceState, 0, sizeof m_voiceState);
    m_lowPass.Reset();  // a new stream: the last one's tail must not ring into it
    m_pSound.store(&CSingletonPlayAudio::GetInstance());
    InitAudioDecoderByVoice();
    return 0;
}

void CRKPlayAudio::InitAudioDecoderByVoice()
{
    std::lock_guard guard(ProcessLock());
    m_voiceMode = VoiceModeFor(m_param.compress);
    m_bDecoderSet = true;
    const int32_t rc = voice::DecReset(m_voiceState, m_voiceMode);
    if (rc != VOICE_OK) {
        AudioDiag("VOICE_DecReset fail(%d)", rc);
        return;
    }
    CSingletonPlayAudio* sound = m_pSound.load();
    if (!sound->FiltersInitialized()) sound->InitFilters(m_bEnableRemoveNoise.load(), m_nNoiseType.load());
}

int CRKPlayAudio::UnInitAudioDecoder()
{
    std::lock_guard lock(m_audioLock);
    m_bDecoderSet = false;
    m_voiceMode = 0;
    std::memset(m_voiceState, 0, sizeof m_voiceState);
    return 0;
}

// ---- Frames -----------------------------------------------------------------------------

int CRKPlayAudio::DecodeOneAudioFrame(const uint8_t* frame, int length, uint8_t* pcmOut, int* pcmBytes)
{
    DecodeOneAudioFrameByVoice(frame, length, pcmOut, pcmBytes);
    return 0;
}

void CRKPlayAudio::DecodeOneAudioFrameByVoice(const uint8_t* frame, int length, uint8_t* pcmOut, int* pcmBytes)
{
    if (pcmBytes) *pcmBytes = 0;
    CSingletonPlayAudio* sound = m_pSound.load();
    if (!sound || !frame || length <= 0 || !pcmOut) return;
    int bytes = 0;
    {
        std::lock_guard lock(m_audioLock);
        if (!m_bDecoderSet) return;
        // Decoded here and copied out: the caller's buffer need not be
        // aligned for 16-bit samples.
        int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
        uint16_t count = 0;
        const int32_t rc = voice::DecodeFrame(m_voiceState, frame, size_t(length), pcm, &count);
        if (rc != VOICE_OK) AudioDiag("VOICE_DecodeFrame Fail(%d)", rc);
        // Before the shared noise suppression and equalizer: the filter's
        // history belongs to this player's stream alone.
        m_lowPass.Process(pcm, count);
        bytes = 2 * int(count);
        std::memcpy(pcmOut, pcm, size_t(bytes));
    }
    if (pcmBytes) *pcmBytes = bytes;
    sound->SaveDecodeAudioFrame(pcmOut, bytes);
}

// ---- Filters and output -----------------------------------------------------------------

int CRKPlayAudio::EnableAudioEqualizer(uint8_t enable, const RKPLAYER_EQ_PRESET& preset)
{
    m_bEnableEqualizer.store(enable);
    CSingletonPlayAudio* sound = m_pSound.load();
    if (!sound) return -1;
    sound->EnableAudioEqualizer(enable, preset);
    return 0;
}

int CRKPlayAudio::EnableLowPassFilter(int enable, float cutoff)
{
    std::lock_guard lock(m_audioLock);
    m_lowPass.Set(enable != 0, cutoff);
    m_bEnableLowPass.store(m_lowPass.Enabled());
    m_fLowPassCutoff.store(m_lowPass.Cutoff());
    return 0;
}

int CRKPlayAudio::EnableRemoveNoise(int enable, int type)
{
    m_bEnableRemoveNoise.store(enable != 0);
    m_nNoiseType.store(type);
    if (CSingletonPlayAudio* sound = m_pSound.load()) sound->SetRemoveNoise(enable != 0, type);
    return 0;
}

int CRKPlayAudio::SetAudioVolume(int volume)
{
    if (CSingletonPlayAudio* sound = CSingletonPlayAudio::Existing()) sound->SetVolume(volume);
    return 0;
}

int CRKPlayAudio::SetAudioDecordQuit(int quit)
{
    if (CSingletonPlayAudio* sound = CSingletonPlayAudio::Existing()) sound->SetQuit(quit != 0);
    return 0;
}

}  // namespace rkmedia
