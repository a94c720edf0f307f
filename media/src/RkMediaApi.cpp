// Exported functions of the media engine: the handle slot, lazy creation of
// the player, and a guard that keeps every C++ exception inside the library.
#include <new>

#include "common/CrashReport.h"
#include "media/include/rkmedia.h"
#include "media/src/RKPlay.h"
#include "media/src/SpsParser.h"

using rkmedia::CRKPlay;

namespace {

CRKPlay* PlayerOf(RKPLAYER_HANDLE* slot) { return slot ? static_cast<CRKPlay*>(*slot) : nullptr; }

// The player in the slot, created when the slot is empty.
CRKPlay* PlayerFor(RKPLAYER_HANDLE* slot)
{
    if (!slot) return nullptr;
    if (!*slot) *slot = new (std::nothrow) CRKPlay();
    return PlayerOf(slot);
}

template <typename F>
auto Guarded(decltype(std::declval<F>()()) onException, F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return onException;
    }
}

// A report of this library's crashes beside the program, under "log".
__attribute__((constructor)) void InstallMediaCrashReport()
{
    try {
        velmor::InstallCrashReport(velmor::CrashReportDir("log"), "RKMEDIA");
    } catch (...) {
    }
}

}  // namespace

extern "C" {

// ---- Video ---------------------------------------------------------------------------

RKMEDIA_API int RKPLAYER_InitVideoDecoder(RKPLAYER_HANDLE* slot, int width, int height, int videoType, int frameRate,
                                          int /*hwAccel*/)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerFor(slot);
        if (!p) return -1;
        return p->RKPLAY_InitVideoParam(width, height, videoType, frameRate);
    });
}

RKMEDIA_API int RKPLAYER_SetShowWnd(RKPLAYER_HANDLE* slot, void* window, int windowNumber)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->SetShowWnd(window, windowNumber) : -1;
    });
}

RKMEDIA_API int RKPLAYER_OpenOffscreen(RKPLAYER_HANDLE* slot)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->OpenOffscreen() : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetVideoDisplayScale(RKPLAYER_HANDLE* slot, int scaleMode)
{
    if (CRKPlay* p = PlayerOf(slot)) p->SetScaleMode(scaleMode);
    return 0;
}

RKMEDIA_API int RKPLAYER_DecodeFrame(RKPLAYER_HANDLE* slot, const uint8_t* data, int length, int keyFlag,
                                     void* /*reserved*/, int* frameBytes, int* width, int* height)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->DecodeOneFrame(data, length, keyFlag, frameBytes, width, height) : -1;
    });
}

RKMEDIA_API int RKPLAYER_ShowLastFrame(RKPLAYER_HANDLE* slot)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->ShowLastFrame() : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetOSDText(RKPLAYER_HANDLE* slot, const char* text, int length)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->SetOSDText(text, length) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SavePictureFile(RKPLAYER_HANDLE* slot, const char* path, int pictureFormat)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p && path ? p->RKPLAY_SavePictureFile(path, pictureFormat) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetExitFlag(RKPLAYER_HANDLE* slot)
{
    CRKPlay* p = PlayerOf(slot);
    if (!p) return -1;
    p->SetExitFlag();
    return 0;
}

RKMEDIA_API void RKPLAYER_Uninitgpu(RKPLAYER_HANDLE* slot)
{
    try {
        CRKPlay* p = PlayerOf(slot);
        if (!p) return;
        delete p;
        // Cleared here too, so that a second release finds nothing to free.
        *slot = nullptr;
    } catch (...) {
    }
}

RKMEDIA_API int RKPLAYER_GetWidthAndHeightByIFrame(int videoType, const uint8_t* data, int length, uint16_t* width,
                                                   uint16_t* height)
{
    if (!data || length <= 0 || !width || !height) return 0;
    try {
        uint16_t w = 0, h = 0;
        if (!rkmedia::RKPLAY_GetResolutionBySPS(videoType, data, size_t(length), w, h)) return 0;
        *width = w;
        *height = h;
        return 1;
    } catch (...) {
        // Only an allocation for the unit's payload can throw; without memory
        // there is no size to report.
        return 0;
    }
}

// ---- Sound ------------------------------------------------------------------------------

RKMEDIA_API int RKPLAYER_InitAudioDecoder(RKPLAYER_HANDLE* slot, RKPLAYER_AUDIO_PARAM param)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerFor(slot);
        return p ? p->m_audio.InitAudioDecoder(param) : -1;
    });
}

RKMEDIA_API int RKPLAYER_DecordOneAudioFrame(RKPLAYER_HANDLE* slot, const uint8_t* frame, int length, uint8_t* pcmOut,
                                             int* pcmBytes)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->m_audio.DecodeOneAudioFrame(frame, length, pcmOut, pcmBytes) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetAudioVolume(RKPLAYER_HANDLE* /*slot*/, int volume)
{
    return Guarded(0, [&] { return rkmedia::CRKPlayAudio::SetAudioVolume(volume); });
}

RKMEDIA_API int RKPLAYER_SetAudioDecordQuit(RKPLAYER_HANDLE* /*slot*/, int quit)
{
    return Guarded(0, [&] { return rkmedia::CRKPlayAudio::SetAudioDecordQuit(quit); });
}

RKMEDIA_API int RKPLAYER_UnInitAudioDecoder(RKPLAYER_HANDLE* slot)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->m_audio.UnInitAudioDecoder() : -1;
    });
}

RKMEDIA_API int RKPLAYER_EnableAudioEqualizer(RKPLAYER_HANDLE* slot, int enable, RKPLAYER_EQ_PRESET preset)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->m_audio.EnableAudioEqualizer(uint8_t(enable & 0xFF), preset) : -1;
    });
}

RKMEDIA_API int RKPLAYER_EnableLowPassFilter(RKPLAYER_HANDLE* slot, int enable, float cutoff)
{
    return Guarded(0, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (p) p->m_audio.EnableLowPassFilter(enable, cutoff);
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_EnableRemoveNoise(RKPLAYER_HANDLE* slot, int enable, int type)
{
    return Guarded(0, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (p) p->m_audio.EnableRemoveNoise(enable, type);
        return 0;
    });
}

// ---- Media files ------------------------------------------------------------------------------

RKMEDIA_API int VIDEOPLAY_InitMediaFile(RKPLAYER_HANDLE* slot, const char* path, RKPLAYER_VIDEO_PARAM* param,
                                        void* /*reserved*/, int64_t* duration)
{
    return Guarded(-1, [&] {
        if (!slot || !path) return -1;
        auto* p = new (std::nothrow) CRKPlay();
        if (!p) return -1;
        *slot = p;
        return p->InitMediaFile(path, nullptr, nullptr, param, duration);
    });
}

RKMEDIA_API int RKPLAYER_MemoryInitMediaFile(RKPLAYER_HANDLE* slot, RKPLAYER_READ_FUNC read, void* context,
                                             RKPLAYER_VIDEO_PARAM* param, void* /*reserved*/, int64_t* duration)
{
    return Guarded(-1, [&] {
        if (!slot || !read) return -1;
        auto* p = new (std::nothrow) CRKPlay();
        if (!p) return -1;
        *slot = p;
        return p->InitMediaFile(nullptr, read, context, param, duration);
    });
}

RKMEDIA_API int VIDEOPLAY_ReadOneFrame(RKPLAYER_HANDLE* slot, int* isAudio, int64_t* pts)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->ReadOneFrame(isAudio, pts) : -1;
    });
}

RKMEDIA_API int VIDEOPLAY_DecodeOneFrame(RKPLAYER_HANDLE* slot, int flush)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->DecodeCurrentPacket(flush) : -1;
    });
}

RKMEDIA_API int VIDEOPLAY_SeekTimeTo(RKPLAYER_HANDLE* slot, int64_t timeMs)
{
    return Guarded(-1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->SeekTimeTo(timeMs) : -1;
    });
}

RKMEDIA_API int VIDEOPLAY_UnitMediaFile(RKPLAYER_HANDLE* slot)
{
    return Guarded(0, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p) return 0;
        p->UnitMediaFile();
        // The player program never releases a media-file player otherwise.
        delete p;
        *slot = nullptr;
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_MemoryReadOneFrame(RKPLAYER_HANDLE* slot, int* isAudio, int64_t* pts)
{
    return VIDEOPLAY_ReadOneFrame(slot, isAudio, pts);
}

RKMEDIA_API int RKPLAYER_MemoryDecodeOneFrame(RKPLAYER_HANDLE* slot, int flush)
{
    return VIDEOPLAY_DecodeOneFrame(slot, flush);
}

RKMEDIA_API int RKPLAYER_MemoryUnitMediaFile(RKPLAYER_HANDLE* slot) { return VIDEOPLAY_UnitMediaFile(slot); }

}  // extern "C"
