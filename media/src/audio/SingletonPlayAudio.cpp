#include "media/src/audio/SingletonPlayAudio.h"

#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cstring>

#include "media/src/MediaGlobals.h"
#include "media/src/audio/AudioDiag.h"

namespace rkmedia {
namespace {

std::atomic<bool> g_bAudioStop{false};
std::atomic<CSingletonPlayAudio*> g_pInstance{nullptr};

RKPLAYER_EQ_PRESET FlatPreset()
{
    RKPLAYER_EQ_PRESET flat{};
    std::memcpy(flat.name, "flat", 5);
    flat.bands = kEqBands;
    flat.preamp = 12.0f;
    return flat;
}

}  // namespace

bool AudioStopped() { return g_bAudioStop.load(); }

// ---- BuffQueue --------------------------------------------------------------------

BuffQueue::BuffQueue() : m_ring(kAudioQueueRecords) {}

void BuffQueue::PushQueue(const uint8_t* pcm, size_t n)
{
    n = std::min(n, kAudioRecordBytes);
    std::lock_guard lock(m_mutex);
    // With every slot taken the new record replaces the oldest: the same as
    // appending and then dropping from the front down to the limit.
    if (m_count == kAudioQueueRecords) {
        m_head = (m_head + 1) % m_ring.size();
        --m_count;
        AudioDiag("Delete Audio:m_count:%d", m_count + 1);
    }
    Record& r = m_ring[(m_head + size_t(m_count)) % m_ring.size()];
    r.length = uint32_t(n);
    if (n) std::memcpy(r.pcm, pcm, n);
    ++m_count;
    m_cond.notify_one();
}

bool BuffQueue::PopQueue(uint8_t* out, size_t& n)
{
    std::lock_guard lock(m_mutex);
    if (m_count == 0 || AudioStopped()) return false;
    const Record& r = m_ring[m_head];
    m_head = (m_head + 1) % m_ring.size();
    --m_count;
    if (r.length == 0) return false;
    std::memcpy(out, r.pcm, r.length);
    n = r.length;
    return true;
}

int BuffQueue::Count() const
{
    std::lock_guard lock(m_mutex);
    return m_count;
}

void BuffQueue::Clear()
{
    std::lock_guard lock(m_mutex);
    m_head = 0;
    m_count = 0;
}

// ---- AudioState ---------------------------------------------------------------------

bool AudioState::AudioPlay()
{
    if (m_buff.empty()) m_buff.assign(kAudioRecordBytes, 0);
    if (m_device) return true;
    SDL_AudioSpec want{};
    SDL_AudioSpec have{};
    want.freq = kAudioSampleRate;
    want.format = AUDIO_S16LSB;
    want.channels = 1;
    want.samples = kAudioCallbackSamples;
    want.callback = Audio_CallBack;
    want.userdata = this;
    // SDL converts when the hardware wants another rate or layout; the
    // callback always sees the format asked for.
    m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!m_device) {
        AudioDiag("SDL_OpenAudio Fail:%s", SDL_GetError());
        return false;
    }
    SDL_PauseAudioDevice(m_device, 0);
    return true;
}

void AudioState::SetVolume(int volume)
{
    m_volume.store(std::clamp(volume, 0, SDL_MIX_MAXVOLUME));
    AudioDiag("SetVolume:%d", volume);
}

void AudioState::SetQuit(bool quit)
{
    m_quit.store(quit);
    g_bAudioStop.store(quit);
    AudioDiag("SetQuit:%d", int(quit));
}

void AudioState::AudioClose()
{
    if (m_device) SDL_CloseAudioDevice(m_device);
    m_device = 0;
}

bool Audio_Getframe_Buff(AudioState& state, size_t& bytes)
{
    if (state.m_quit.load()) return false;
    return state.m_queue.PopQueue(state.m_buff.data(), bytes);
}

void Audio_CallBack(void* userdata, Uint8* stream, int len)
{
    if (!stream || len <= 0) return;
    // SDL plays whatever the callback leaves in the stream: stopped output
    // must leave silence, not the last block again.
    std::memset(stream, 0, size_t(len));
    auto* state = static_cast<AudioState*>(userdata);
    if (!state || AudioStopped() || state->m_buff.size() < kAudioRecordBytes) return;
    size_t wanted = size_t(len);
    while (wanted > 0) {
        if (state->m_buffIndex >= state->m_buffsize) {
            size_t bytes = 0;
            if (Audio_Getframe_Buff(*state, bytes)) {
                state->m_buffsize = bytes;
            } else {
                std::memset(state->m_buff.data(), 0, kSilenceBytes);
                state->m_buffsize = kSilenceBytes;
            }
            state->m_buffIndex = 0;
        }
        const size_t n = std::min(wanted, state->m_buffsize - state->m_buffIndex);
        SDL_MixAudioFormat(stream, state->m_buff.data() + state->m_buffIndex, AUDIO_S16LSB, Uint32(n),
                           state->m_volume.load());
        state->m_buffIndex += n;
        stream += n;
        wanted -= n;
    }
}

// ---- CSingletonPlayAudio --------------------------------------------------------------

void CSingletonPlayAudio::NsDeleter::operator()(SpeexPreprocessState_* st) const
{
    if (st) speex_preprocess_state_destroy(st);
}

CSingletonPlayAudio& CSingletonPlayAudio::GetInstance()
{
    static CSingletonPlayAudio instance;
    return instance;
}

CSingletonPlayAudio* CSingletonPlayAudio::Existing() { return g_pInstance.load(); }

CSingletonPlayAudio::CSingletonPlayAudio() : m_nsWork(kNsWorkBytes)
{
    g_bAudioStop.store(false);
    std::lock_guard guard(ProcessLock());
    // SDL is started once per process; without a display its video part can
    // fail, and sound should not go with it.
    EnsureSdlInitialized();
    if (!SDL_WasInit(SDL_INIT_AUDIO)) {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_InitSubSystem(SDL_INIT_AUDIO);
    }
    m_state.AudioPlay();
    g_pInstance.store(this);
}

CSingletonPlayAudio::~CSingletonPlayAudio()
{
    g_pInstance.store(nullptr);
    // Closing the device waits for SDL's audio thread, so nothing is freed
    // under a running callback.
    m_state.AudioClose();
    g_bAudioStop.store(true);
    std::lock_guard lock(m_filterLock);
    m_eq.reset();
    m_ns.reset();
    m_state.m_queue.Clear();
}

void CSingletonPlayAudio::InitNSFunction()
{
    SpeexPreprocessState* st = speex_preprocess_state_init(int(kNsBlockBytes / 2), kAudioSampleRate);
    if (!st) return;
    int on = 1, off = 0;
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_AGC, &off);
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    m_ns.reset(st);
}

void CSingletonPlayAudio::RemoveNoise(uint8_t* pcm, size_t n)
{
    int16_t block[kNsBlockBytes / 2];
    for (size_t run = 0; run < n; run += kNsRunBytes) {
        const size_t len = std::min(kNsRunBytes, n - run);
        // Samples after the last whole block come out silent.
        std::memset(m_nsWork.data(), 0, len);
        for (size_t off = 0; off + kNsBlockBytes <= len; off += kNsBlockBytes) {
            std::memcpy(block, pcm + run + off, kNsBlockBytes);
            speex_preprocess_run(m_ns.get(), block);
            std::memcpy(m_nsWork.data() + off, block, kNsBlockBytes);
        }
        std::memcpy(pcm + run, m_nsWork.data(), len);
    }
}

void CSingletonPlayAudio::SaveDecodeAudioFrame(uint8_t* pcm, int bytes)
{
    if (bytes < 0) return;
    // Whole samples only: an odd byte would shift every later sample.
    const size_t n = size_t(bytes) & ~size_t(1);
    if (n > 0 && !pcm) return;
    std::lock_guard lock(m_filterLock);
    if (n == 0) {
        // An empty record still takes its place in the queue (and plays as
        // 40 ms of silence), as a frame that failed to decode always has.
        m_state.m_queue.PushQueue(nullptr, 0);
        return;
    }
    if (m_bEnableNS) {
        if (!m_ns)
            InitNSFunction();  // this frame passes as it is
        else
            RemoveNoise(pcm, n);
    }
    const bool eq = m_bEnableEq && m_eq;
    int16_t piece[kAudioRecordBytes / 2];
    for (size_t off = 0; off < n; off += kAudioRecordBytes) {
        const size_t len = std::min(kAudioRecordBytes, n - off);
        if (eq) {
            std::memcpy(piece, pcm + off, len);
            EqzFilter(*m_eq, piece, piece, len / 2);
            m_state.m_queue.PushQueue(reinterpret_cast<const uint8_t*>(piece), len);
        } else {
            m_state.m_queue.PushQueue(pcm + off, len);
        }
    }
}

void CSingletonPlayAudio::EnableAudioEqualizer(uint8_t enable, const RKPLAYER_EQ_PRESET& preset)
{
    std::lock_guard lock(m_filterLock);
    m_bEnableEq = enable != 0;
    if (!m_bEnableEq) return;
    if (!m_eq) {
        m_eq = std::make_unique<equalizer>();
        EqzCoeffs(*m_eq);
    }
    EqzLoadPreset(*m_eq, preset);
}

void CSingletonPlayAudio::SetRemoveNoise(bool enable, int type)
{
    std::lock_guard lock(m_filterLock);
    m_bEnableNS = enable;
    m_nNSType = type == 0 ? 0 : type == 2 ? 2 : 1;
}

void CSingletonPlayAudio::InitFilters(bool noiseEnable, int noiseType)
{
    std::lock_guard guard(ProcessLock());
    if (m_bFiltersInit.exchange(true)) return;
    SetQuit(false);
    SetRemoveNoise(noiseEnable, noiseType);
    {
        std::lock_guard lock(m_filterLock);
        if (m_bEnableNS && !m_ns) InitNSFunction();
    }
    EnableAudioEqualizer(1, FlatPreset());
}

void CSingletonPlayAudio::PauseDevice(bool pause)
{
    if (m_state.m_device) SDL_PauseAudioDevice(m_state.m_device, pause ? 1 : 0);
}

void CSingletonPlayAudio::ResetForTesting()
{
    PauseDevice(true);
    m_state.m_queue.Clear();
    m_state.m_buffsize = 0;
    m_state.m_buffIndex = 0;
    m_state.m_volume.store(SDL_MIX_MAXVOLUME);
    m_state.SetQuit(false);
    std::lock_guard lock(m_filterLock);
    m_eq.reset();
    m_ns.reset();
    m_bEnableEq = false;
    m_bEnableNS = false;
    m_nNSType = 0;
    m_bFiltersInit.store(false);
}

bool CSingletonPlayAudio::EqualizerEnabled()
{
    std::lock_guard lock(m_filterLock);
    return m_bEnableEq;
}

bool CSingletonPlayAudio::EqualizerSnapshot(equalizer& out)
{
    std::lock_guard lock(m_filterLock);
    if (!m_eq) return false;
    out = *m_eq;
    return true;
}

bool CSingletonPlayAudio::NoiseEnabled()
{
    std::lock_guard lock(m_filterLock);
    return m_bEnableNS;
}

int CSingletonPlayAudio::NoiseType()
{
    std::lock_guard lock(m_filterLock);
    return m_nNSType;
}

bool CSingletonPlayAudio::NoiseStateExists()
{
    std::lock_guard lock(m_filterLock);
    return m_ns != nullptr;
}

}  // namespace rkmedia
