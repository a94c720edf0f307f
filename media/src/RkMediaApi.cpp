// Exported functions of the media engine: the handle slot, lazy creation of
// the player, and a guard that keeps every C++ exception inside the library.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "common/LibraryLog.h"
#include "media/include/rkmedia.h"
#include "media/src/MediaGlobals.h"
#include "media/src/RKPlay.h"
#include "media/src/SpsParser.h"
#include "media/src/combine/CombineMp4.h"
#include "media/src/combine/OverlayMp4.h"
#include "media/src/mp4/AacConvert.h"
#include "media/src/mp4/RKMp4Convert.h"

using rkmedia::CRKPlay;

namespace {

using velmor::Guarded;
constexpr auto kLibrary = velmor::LogLibrary::Media;

// The engine's objects are made here, and the first one starts the engine:
// from then on a crash leaves the library's report (see MediaGlobals.h).
template <typename T>
T* Create()
{
    rkmedia::EnsureCrashReport();
    return new (std::nothrow) T();
}

CRKPlay* PlayerOf(RKPLAYER_HANDLE* slot) { return slot ? static_cast<CRKPlay*>(*slot) : nullptr; }

// The player in the slot, created when the slot is empty.
CRKPlay* PlayerFor(RKPLAYER_HANDLE* slot)
{
    if (!slot) return nullptr;
    if (!*slot) *slot = Create<CRKPlay>();
    return PlayerOf(slot);
}

// Copies text into a caller's array, cut to fit at a character boundary
// (UTF-8) and zero-terminated.
template <size_t N>
void CopyCut(char (&to)[N], const std::string& text)
{
    size_t n = std::min(text.size(), N - 1);
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

extern "C" {

// ---- Video ---------------------------------------------------------------------------

RKMEDIA_API int RKPLAYER_InitVideoDecoder(RKPLAYER_HANDLE* slot, int width, int height, int videoType, int frameRate,
                                          int /*hwAccel*/)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerFor(slot);
        if (!p) return -1;
        return p->RKPLAY_InitVideoParam(width, height, videoType, frameRate);
    });
}

RKMEDIA_API int RKPLAYER_SetShowWnd(RKPLAYER_HANDLE* slot, void* window, int windowNumber)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->SetShowWnd(window, windowNumber) : -1;
    });
}

RKMEDIA_API int RKPLAYER_OpenOffscreen(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
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
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->DecodeOneFrame(data, length, keyFlag, frameBytes, width, height) : -1;
    });
}

RKMEDIA_API int RKPLAYER_ShowLastFrame(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->ShowLastFrame() : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetShowDecoded(RKPLAYER_HANDLE* slot, int show)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p) return -1;
        p->SetShowDecoded(show != 0);
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_KeepLastPicture(RKPLAYER_HANDLE* slot, long long stamp)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->KeepLastPicture(stamp) : -1;
    });
}

RKMEDIA_API int RKPLAYER_ShowKeptPicture(RKPLAYER_HANDLE* slot, long long stamp)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->ShowKeptPicture(stamp) : -1;
    });
}

RKMEDIA_API int RKPLAYER_DropKeptPictures(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p) return -1;
        p->DropKeptPictures();
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_SetZoom(RKPLAYER_HANDLE* slot, double factor, double cx, double cy)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p) return -1;
        p->SetZoom(factor, cx, cy);
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_GetZoom(RKPLAYER_HANDLE* slot, double* factor, double* cx, double* cy)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p) return -1;
        const rkmedia::ZoomView v = p->Zoom();
        if (factor) *factor = v.factor;
        if (cx) *cx = v.cx;
        if (cy) *cy = v.cy;
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_ZoomAt(RKPLAYER_HANDLE* slot, int steps, int x, int y, int windowW, int windowH)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->ZoomAt(steps, x, y, windowW, windowH) : -1;
    });
}

RKMEDIA_API int RKPLAYER_PanZoom(RKPLAYER_HANDLE* slot, int dx, int dy, int windowW, int windowH)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->PanZoom(dx, dy, windowW, windowH) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SaveZoomedPictureFile(RKPLAYER_HANDLE* slot, const char* path, int pictureFormat)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p && path ? p->RKPLAY_SavePictureFile(path, pictureFormat, true) : -1;
    });
}

RKMEDIA_API int RKPLAYER_GetShowStat(RKPLAYER_HANDLE* slot, RKPLAYER_SHOW_STAT* stat)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p || !stat) return -1;
        const rkmedia::PresentStat s = p->ShowStat();
        *stat = RKPLAYER_SHOW_STAT{s.handed, s.shown, s.passedOver, s.shownOnTime};
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_GetHwDecodePath(RKPLAYER_HANDLE* slot, RKPLAYER_HWDEC_PATH* path)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p || !path) return -1;
        const rkmedia::HwDecodeState state = p->HwState();
        *path = RKPLAYER_HWDEC_PATH{};
        CopyCut(path->name, rkmedia::HwModeName(state.mode));
        CopyCut(path->reason, state.reason);
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_SetOSDText(RKPLAYER_HANDLE* slot, const char* text, int length)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->SetOSDText(text, length) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SavePictureFile(RKPLAYER_HANDLE* slot, const char* path, int pictureFormat)
{
    return Guarded(kLibrary, -1, [&] {
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
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerFor(slot);
        return p ? p->m_audio.InitAudioDecoder(param) : -1;
    });
}

RKMEDIA_API int RKPLAYER_DecordOneAudioFrame(RKPLAYER_HANDLE* slot, const uint8_t* frame, int length, uint8_t* pcmOut,
                                             int* pcmBytes)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->m_audio.DecodeOneAudioFrame(frame, length, pcmOut, pcmBytes) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetAudioVolume(RKPLAYER_HANDLE* /*slot*/, int volume)
{
    return Guarded(kLibrary, 0, [&] { return rkmedia::CRKPlayAudio::SetAudioVolume(volume); });
}

RKMEDIA_API int RKPLAYER_SetAudioDecordQuit(RKPLAYER_HANDLE* /*slot*/, int quit)
{
    return Guarded(kLibrary, 0, [&] { return rkmedia::CRKPlayAudio::SetAudioDecordQuit(quit); });
}

RKMEDIA_API int RKPLAYER_UnInitAudioDecoder(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->m_audio.UnInitAudioDecoder() : -1;
    });
}

RKMEDIA_API int RKPLAYER_EnableAudioEqualizer(RKPLAYER_HANDLE* slot, int enable, RKPLAYER_EQ_PRESET preset)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->m_audio.EnableAudioEqualizer(uint8_t(enable & 0xFF), preset) : -1;
    });
}

RKMEDIA_API int RKPLAYER_EnableLowPassFilter(RKPLAYER_HANDLE* slot, int enable, float cutoff)
{
    return Guarded(kLibrary, 0, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (p) p->m_audio.EnableLowPassFilter(enable, cutoff);
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_EnableRemoveNoise(RKPLAYER_HANDLE* slot, int enable, int type)
{
    return Guarded(kLibrary, 0, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (p) p->m_audio.EnableRemoveNoise(enable, type);
        return 0;
    });
}

// ---- Media files ------------------------------------------------------------------------------

RKMEDIA_API int VIDEOPLAY_InitMediaFile(RKPLAYER_HANDLE* slot, const char* path, RKPLAYER_VIDEO_PARAM* param,
                                        void* /*reserved*/, int64_t* duration)
{
    return Guarded(kLibrary, -1, [&] {
        if (!slot || !path) return -1;
        auto* p = Create<CRKPlay>();
        if (!p) return -1;
        *slot = p;
        return p->InitMediaFile(path, nullptr, nullptr, param, duration);
    });
}

RKMEDIA_API int RKPLAYER_MemoryInitMediaFile(RKPLAYER_HANDLE* slot, RKPLAYER_READ_FUNC read, void* context,
                                             RKPLAYER_VIDEO_PARAM* param, void* /*reserved*/, int64_t* duration)
{
    return Guarded(kLibrary, -1, [&] {
        if (!slot || !read) return -1;
        auto* p = Create<CRKPlay>();
        if (!p) return -1;
        *slot = p;
        return p->InitMediaFile(nullptr, read, context, param, duration);
    });
}

RKMEDIA_API int VIDEOPLAY_ReadOneFrame(RKPLAYER_HANDLE* slot, int* isAudio, int64_t* pts)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->ReadOneFrame(isAudio, pts) : -1;
    });
}

RKMEDIA_API int VIDEOPLAY_DecodeOneFrame(RKPLAYER_HANDLE* slot, int flush)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->DecodeCurrentPacket(flush) : -1;
    });
}

RKMEDIA_API int VIDEOPLAY_SeekTimeTo(RKPLAYER_HANDLE* slot, int64_t timeMs)
{
    return Guarded(kLibrary, -1, [&] {
        CRKPlay* p = PlayerOf(slot);
        return p ? p->SeekTimeTo(timeMs) : -1;
    });
}

RKMEDIA_API int VIDEOPLAY_UnitMediaFile(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, 0, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p) return 0;
        p->UnitMediaFile();
        // The player program never releases a media-file player otherwise.
        delete p;
        *slot = nullptr;
        return 0;
    });
}

RKMEDIA_API int VIDEOPLAY_GetCurrentPacket(RKPLAYER_HANDLE* slot, uint8_t* buffer, int capacity, int* length,
                                           int* keyFlag, int64_t* positionMs)
{
    return Guarded(kLibrary, VIDEOPLAY_PACKET_BAD_ARGUMENT, [&] {
        CRKPlay* p = PlayerOf(slot);
        if (!p || !length || !keyFlag || !positionMs || capacity < 0 || (capacity > 0 && !buffer))
            return VIDEOPLAY_PACKET_BAD_ARGUMENT;
        return p->CopyCurrentPacket(buffer, capacity, length, keyFlag, positionMs);
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

// ---- AAC conversion and MP4 writing ------------------------------------------------------

namespace {

template <typename T>
T* ObjectOf(RKPLAYER_HANDLE* slot)
{
    return slot ? static_cast<T*>(*slot) : nullptr;
}

// A combiner that has run (or was released unrun) leaves this in the slot:
// the slot stays filled, as the caller expects, but nothing behind it is
// used or freed again.
char g_spentCombiner;

rkmedia::CCombineMp4* CombinerOf(RKPLAYER_HANDLE* slot)
{
    if (!slot || !*slot || *slot == &g_spentCombiner) return nullptr;
    return static_cast<rkmedia::CCombineMp4*>(*slot);
}

}  // namespace

extern "C" {

RKMEDIA_API int RKPLAYER_ConvertPCMToAACInit(RKPLAYER_HANDLE* slot, int channels, int sampleRate, int reserved,
                                             int compress)
{
    return Guarded(kLibrary, 0, [&] {
        if (!slot) return 0;
        auto* enc = Create<rkmedia::CEncodeAAC>();
        if (!enc) return 0;
        *slot = enc;
        return enc->InitAACEncoder(channels, sampleRate, reserved, compress);
    });
}

RKMEDIA_API int RKPLAYER_ConvertPCMToAACEncode(RKPLAYER_HANDLE* slot, const uint8_t* input, int length,
                                               uint8_t* output, int* outLength)
{
    return Guarded(kLibrary, 0, [&] {
        auto* enc = ObjectOf<rkmedia::CEncodeAAC>(slot);
        return enc ? enc->Encoder(input, length, output, outLength) : 0;
    });
}

RKMEDIA_API int RKPLAYER_ConvertPCMToAACFlush(RKPLAYER_HANDLE* slot, uint8_t* output, int* outLength)
{
    return Guarded(kLibrary, 0, [&] {
        auto* enc = ObjectOf<rkmedia::CEncodeAAC>(slot);
        return enc ? enc->Flush(output, outLength) : 0;
    });
}

RKMEDIA_API int RKPLAYER_ConvertPCMToAACGetEncConfig(RKPLAYER_HANDLE* slot, uint8_t* config, int* configLength)
{
    return Guarded(kLibrary, 0, [&] {
        auto* enc = ObjectOf<rkmedia::CEncodeAAC>(slot);
        if (!enc || !config || !configLength) return 0;
        const auto& c = enc->Config();
        *configLength = 0;
        if (c.size() <= RKPLAYER_AAC_CONFIG_MAX_BYTES) {
            std::copy(c.begin(), c.end(), config);
            *configLength = int(c.size());
        }
        return 1;
    });
}

RKMEDIA_API int RKPLAYER_ConvertPCMToAACUnit(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, 0, [&] {
        auto* enc = ObjectOf<rkmedia::CEncodeAAC>(slot);
        if (!enc) return 0;
        delete enc;
        *slot = nullptr;
        return 1;
    });
}

RKMEDIA_API int RKPLAYER_ConvertAudioToPCMInit(RKPLAYER_HANDLE* slot, int channels, int sampleRate, int reserved,
                                               int compress)
{
    return Guarded(kLibrary, 0, [&] {
        if (!slot) return 0;
        auto* dec = Create<rkmedia::CDecordPCM>();
        if (!dec) return 0;
        *slot = dec;
        return dec->Init(channels, sampleRate, reserved, compress);
    });
}

RKMEDIA_API int RKPLAYER_ConvertAudioToPCMDecord(RKPLAYER_HANDLE* slot, const uint8_t* input, int length,
                                                 uint8_t* output, int* outLength)
{
    return Guarded(kLibrary, 0, [&] {
        auto* dec = ObjectOf<rkmedia::CDecordPCM>(slot);
        return dec ? dec->Decode(input, length, output, outLength) : 0;
    });
}

RKMEDIA_API int RKPLAYER_ConvertAudioToPCMUnit(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, 0, [&] {
        auto* dec = ObjectOf<rkmedia::CDecordPCM>(slot);
        if (!dec) return 0;
        delete dec;
        *slot = nullptr;
        return 1;
    });
}

RKMEDIA_API int RKPLAYER_CreateMp4FileInit(RKPLAYER_HANDLE* slot, int width, int height, int videoType,
                                           int frameRate, const char* path)
{
    return Guarded(kLibrary, -1, [&] {
        if (!slot) return -1;
        auto* w = Create<rkmedia::CRKMp4Convert>();
        if (!w) return -1;
        *slot = w;
        return w->CreateMp4File(path, width, height, videoType, frameRate);
    });
}

RKMEDIA_API int RKPLAYER_WriteMp4VideoData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length, int keyFlag,
                                           uint64_t time)
{
    return Guarded(kLibrary, -1, [&] {
        auto* w = ObjectOf<rkmedia::CRKMp4Convert>(slot);
        return w ? w->WriteMp4VideoFile(data, length, keyFlag, time) : -1;
    });
}

RKMEDIA_API int RKPLAYER_WriteMp4AudioData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length)
{
    return Guarded(kLibrary, -1, [&] {
        auto* w = ObjectOf<rkmedia::CRKMp4Convert>(slot);
        return w ? w->WriteMp4AudioFile(data, length) : -1;
    });
}

RKMEDIA_API int RKPLAYER_CloseMp4File(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
        auto* w = ObjectOf<rkmedia::CRKMp4Convert>(slot);
        if (!w) return -1;
        int ret = -1;
        try {
            ret = w->CloseMp4File();
        } catch (...) {
        }
        delete w;
        *slot = nullptr;
        return ret;
    });
}

// ---- Clips with burned-in text ---------------------------------------------------------------

RKMEDIA_API int RKPLAYER_CreateOverlayMp4FileInit(RKPLAYER_HANDLE* slot, int width, int height, int videoType,
                                                  int frameRate, const char* path)
{
    return Guarded(kLibrary, -1, [&] {
        if (!slot) return -1;
        auto* w = Create<rkmedia::COverlayMp4>();
        if (!w) return -1;
        *slot = w;
        const int ret = w->Create(path, width, height, videoType, frameRate);
        if (ret < 0) velmor::SetLastError(kLibrary, w->Error());
        return ret;
    });
}

RKMEDIA_API int RKPLAYER_WriteOverlayMp4VideoData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length,
                                                  int keyFlag, uint64_t time, const char* text, int textLength)
{
    return Guarded(kLibrary, -1, [&] {
        auto* w = ObjectOf<rkmedia::COverlayMp4>(slot);
        if (!w || textLength < 0 || (textLength > 0 && !text)) return -1;
        const int ret = w->WriteVideo(data, length, keyFlag, time, std::string(text ? text : "", size_t(textLength)));
        if (ret < 0 && !w->Error().empty()) velmor::SetLastError(kLibrary, w->Error());
        return ret;
    });
}

RKMEDIA_API int RKPLAYER_WriteOverlayMp4AudioData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length)
{
    return Guarded(kLibrary, -1, [&] {
        auto* w = ObjectOf<rkmedia::COverlayMp4>(slot);
        return w ? w->WriteAudio(data, length) : -1;
    });
}

RKMEDIA_API int RKPLAYER_CloseOverlayMp4File(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
        auto* w = ObjectOf<rkmedia::COverlayMp4>(slot);
        if (!w) return -1;
        int ret = -1;
        try {
            ret = w->Close();
        } catch (...) {
        }
        if (ret < 0) velmor::SetLastError(kLibrary, w->Error().empty() ? "the file cannot be finished" : w->Error());
        // Its writer takes back an unfinished file as it goes.
        delete w;
        *slot = nullptr;
        return ret;
    });
}

// ---- Multi-channel combination --------------------------------------------------------------

RKMEDIA_API int RKPLAYER_InitOutputAviParam(RKPLAYER_HANDLE* slot, const char* path, int width, int height,
                                            int videoType, RKPLAYER_COMBINE_UNUSED /*unused*/, int64_t counts)
{
    return Guarded(kLibrary, -1, [&] {
        if (!slot || !path) return -1;
        auto* c = Create<rkmedia::CCombineMp4>();
        if (!c) return -1;
        delete CombinerOf(slot);
        rkmedia::CombineOutputSettings o;
        o.path = path;
        o.width = width;
        o.height = height;
        o.videoType = videoType;
        o.inputs = int32_t(uint64_t(counts) & 0xFFFFFFFFu);
        o.cells = int32_t(uint64_t(counts) >> 32);
        c->SetOutput(o);
        *slot = c;
        return 0;
    });
}

RKMEDIA_API int RKPLAYER_InitInputAvisParam(RKPLAYER_HANDLE* slot, const RKPLAYER_COMBINE_INPUT* inputs, int count)
{
    return Guarded(kLibrary, -1, [&] {
        auto* c = CombinerOf(slot);
        return c ? c->SetInputs(inputs, count) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetCombinEffect(RKPLAYER_HANDLE* slot, int index, int effect)
{
    return Guarded(kLibrary, -1, [&] {
        auto* c = CombinerOf(slot);
        return c ? c->SetEffect(index, effect) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetCombinStart(RKPLAYER_HANDLE* slot, int index, int64_t startMs)
{
    return Guarded(kLibrary, -1, [&] {
        auto* c = CombinerOf(slot);
        return c ? c->SetStart(index, startMs) : -1;
    });
}

RKMEDIA_API int RKPLAYER_SetCombinSpan(RKPLAYER_HANDLE* slot, int64_t spanMs)
{
    return Guarded(kLibrary, -1, [&] {
        auto* c = CombinerOf(slot);
        return c ? c->SetSpan(spanMs) : -1;
    });
}

RKMEDIA_API int RKPLAYER_StartCombin(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
        auto* c = CombinerOf(slot);
        if (!c) return -1;
        int ret = -1;
        try {
            ret = c->Run();
        } catch (...) {
        }
        // Nothing frees the combiner after its run otherwise.
        delete c;
        *slot = &g_spentCombiner;
        return ret;
    });
}

RKMEDIA_API int RKPLAYER_EndCombin(RKPLAYER_HANDLE* slot)
{
    return Guarded(kLibrary, -1, [&] {
        if (!slot || !*slot) return -1;
        if (auto* c = CombinerOf(slot)) {
            delete c;
            *slot = &g_spentCombiner;
        }
        return 0;
    });
}

}  // extern "C"
