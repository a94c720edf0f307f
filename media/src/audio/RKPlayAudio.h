// The audio half of a player: its voice decoder and filter settings, feeding
// the one sound output of the process. The exported RKPLAYER_ audio
// functions forward to it; the player object holds one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "media/include/rkmedia.h"
#include "media/src/audio/LowPassFilter.h"

namespace rkmedia {

class CSingletonPlayAudio;

class CRKPlayAudio {
public:
    CRKPlayAudio();
    ~CRKPlayAudio();
    CRKPlayAudio(const CRKPlayAudio&) = delete;
    CRKPlayAudio& operator=(const CRKPlayAudio&) = delete;

    // Sets the decoder up for the stream's compression type (1..12, other
    // values as 3) and creates the process's sound output on first use. The
    // same sample rate, bits and type again change nothing. Always 0.
    int InitAudioDecoder(const RKPLAYER_AUDIO_PARAM& param);
    // Decodes one voice frame of `length` bytes into pcmOut (room for
    // VOICE_MAX_FRAME_SAMPLES samples), through the player's low-pass filter
    // when it is on, and plays it. A frame whose header claims more than
    // `length` bytes is refused. Always 0.
    int DecodeOneAudioFrame(const uint8_t* frame, int length, uint8_t* pcmOut, int* pcmBytes);
    int UnInitAudioDecoder();
    // 0, or -1 while the player has no sound output (no decoder set up yet).
    int EnableAudioEqualizer(uint8_t enable, const RKPLAYER_EQ_PRESET& preset);
    // Switches the player's low-pass filter; the cut-off is a fraction of
    // half the sample rate, anything outside (0, 1] meaning 0.8. The filter
    // starts from silence when it goes on or its cut-off changes. Always 0.
    int EnableLowPassFilter(int enable, float cutoff);
    int EnableRemoveNoise(int enable, int type);

    // The process-wide sound output; nothing happens before it exists.
    static int SetAudioVolume(int volume);
    static int SetAudioDecordQuit(int quit);

    // The voice-codec mode for a compression type.
    static uint16_t VoiceModeFor(int compress);

    // What the player holds, for the engine's tests.
    uint16_t VoiceMode() const { return m_voiceMode; }
    const uint8_t* VoiceState() const { return m_voiceState; }
    bool HasSoundOutput() const { return m_pSound.load() != nullptr; }
    bool LowPassEnabled() const { return m_bEnableLowPass.load(); }
    float LowPassCutoff() const { return m_fLowPassCutoff.load(); }

private:
    int RKPLAY_InitAudioParam(const RKPLAYER_AUDIO_PARAM& param);
    void InitAudioDecoderByVoice();
    void DecodeOneAudioFrameByVoice(const uint8_t* frame, int length, uint8_t* pcmOut, int* pcmBytes);

    std::mutex m_audioLock;  // one frame's decode; the low-pass filter
    RKPLAYER_AUDIO_PARAM m_param{};
    bool m_bDecoderSet = false;
    uint16_t m_voiceMode = 0;
    alignas(8) uint8_t m_voiceState[1024] = {};
    std::atomic<CSingletonPlayAudio*> m_pSound{nullptr};
    std::atomic<uint8_t> m_bEnableEqualizer{0};
    // The settings as last given (read without the lock); the filter that
    // applies them is per player, so two windows never share its history.
    std::atomic<bool> m_bEnableLowPass{false};
    std::atomic<float> m_fLowPassCutoff{CLowPassFilter::kDefaultCutoff};
    CLowPassFilter m_lowPass;
    std::atomic<bool> m_bEnableRemoveNoise{false};
    std::atomic<int> m_nNoiseType{0};
};

}  // namespace rkmedia
