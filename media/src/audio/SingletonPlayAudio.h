// The one sound output of the process: a bounded queue of decoded PCM
// records, fed by the play threads through the filters, and drained by SDL's
// audio thread at 8000 samples per second, mono.
#pragma once

#include <SDL2/SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/include/rkmedia.h"
#include "media/src/audio/Equalizer.h"

struct SpeexPreprocessState_;

namespace rkmedia {

constexpr int kAudioSampleRate = 8000;
constexpr int kAudioCallbackSamples = 320;
constexpr size_t kAudioRecordBytes = 8600;  // PCM bytes one queue record holds
constexpr int kAudioQueueRecords = 16;      // the newest records kept
constexpr size_t kSilenceBytes = 640;       // 40 ms played when nothing is queued
constexpr size_t kNsWorkBytes = 4096;       // the noise suppression work buffer
constexpr size_t kNsBlockBytes = 320;       // one preprocessor frame: 160 samples
// Noise suppression works through a frame in runs of whole blocks that fit
// the work buffer, so that a frame of any length is processed exactly as one
// run of unlimited length would be.
constexpr size_t kNsRunBytes = kNsWorkBytes / kNsBlockBytes * kNsBlockBytes;

// The process-wide stop flag, set and cleared together with AudioState's.
bool AudioStopped();

class BuffQueue {
public:
    BuffQueue();
    // Appends one record of at most kAudioRecordBytes bytes (n may be 0);
    // beyond kAudioQueueRecords the oldest records are dropped.
    void PushQueue(const uint8_t* pcm, size_t n);
    // Takes the oldest record into `out` (room for kAudioRecordBytes).
    // False at once when the queue is empty or output is stopped; false too
    // for an empty record, which is taken all the same.
    bool PopQueue(uint8_t* out, size_t& n);
    int Count() const;
    void Clear();

private:
    struct Record {
        uint32_t length;
        uint8_t pcm[kAudioRecordBytes];
    };
    std::vector<Record> m_ring;  // kAudioQueueRecords slots, oldest at m_head
    size_t m_head = 0;
    int m_count = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
};

struct AudioState {
    BuffQueue m_queue;
    std::vector<uint8_t> m_buff;  // what the callback is playing, one record
    size_t m_buffsize = 0;        // valid bytes in m_buff
    size_t m_buffIndex = 0;       // read position in m_buff
    std::atomic<bool> m_quit{false};
    std::atomic<int> m_volume{SDL_MIX_MAXVOLUME};
    SDL_AudioDeviceID m_device = 0;

    // Opens the SDL device (8000 Hz, S16LE, mono, 320 samples a callback)
    // and starts it; false (and silence) when there is no device.
    bool AudioPlay();
    void SetVolume(int volume);  // 0..128
    void SetQuit(bool quit);
    void AudioClose();
};

// SDL's callback: fills `len` bytes from the queue, 40 ms of silence at a
// time when it is empty; never blocks.
void Audio_CallBack(void* userdata, Uint8* stream, int len);
// Refills the playback buffer from the queue; false when stopped or empty.
bool Audio_Getframe_Buff(AudioState& state, size_t& bytes);

class CSingletonPlayAudio {
public:
    // Created on first use, destroyed at process exit.
    static CSingletonPlayAudio& GetInstance();
    // The instance when it exists, else null; never creates it.
    static CSingletonPlayAudio* Existing();

    // Noise suppression, equalizer, then the queue; a player's own low-pass
    // filter has run before, on its side. The frame is PCM the caller owns;
    // noise suppression writes its result back over it. Frames longer than a
    // record are queued as several records.
    void SaveDecodeAudioFrame(uint8_t* pcm, int bytes);

    // Loads a preset (the state is created on the first enable).
    void EnableAudioEqualizer(uint8_t enable, const RKPLAYER_EQ_PRESET& preset);
    // Type 0 stays 0, 2 stays 2, any other becomes 1.
    void SetRemoveNoise(bool enable, int type);
    // The first audio set-up of any player: clears the stop flags, takes the
    // player's noise suppression setting and loads "flat". Once per process.
    void InitFilters(bool noiseEnable, int noiseType);
    bool FiltersInitialized() const { return m_bFiltersInit.load(); }

    void SetVolume(int volume) { m_state.SetVolume(volume); }
    void SetQuit(bool quit) { m_state.SetQuit(quit); }

    // Internal views for the engine's own tests.
    AudioState& State() { return m_state; }
    bool DeviceOpen() const { return m_state.m_device != 0; }
    void PauseDevice(bool pause);
    // Back to the state right after creation, with the device paused.
    void ResetForTesting();
    bool EqualizerEnabled();
    bool EqualizerSnapshot(equalizer& out);
    bool NoiseEnabled();
    int NoiseType();
    bool NoiseStateExists();

    CSingletonPlayAudio(const CSingletonPlayAudio&) = delete;
    CSingletonPlayAudio& operator=(const CSingletonPlayAudio&) = delete;

private:
    CSingletonPlayAudio();
    ~CSingletonPlayAudio();
    void InitNSFunction();
    void RemoveNoise(uint8_t* pcm, size_t n);

    struct NsDeleter {
        void operator()(SpeexPreprocessState_* st) const;
    };

    AudioState m_state;
    std::mutex m_filterLock;  // filters are shared by every play thread
    std::unique_ptr<equalizer> m_eq;
    bool m_bEnableEq = false;
    std::unique_ptr<SpeexPreprocessState_, NsDeleter> m_ns;
    bool m_bEnableNS = false;
    int m_nNSType = 0;
    std::atomic<bool> m_bFiltersInit{false};
    std::vector<uint8_t> m_nsWork;
};

}  // namespace rkmedia
