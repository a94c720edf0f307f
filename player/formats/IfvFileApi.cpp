// The library's functions over a handle. Every call answers for itself: no
// exception leaves it, and a handle of the wrong mode gets the documented
// neutral answer.
#include <memory>
#include <new>

#include "common/LibraryLog.h"
#include "player/formats/CustomMp4File.h"
#include "player/formats/IfvFile.h"

struct FILEHANDLE {
    ifv::CCustomMp4File file;
};

static_assert(RK_FILE_FRAME_BUFFER_SIZE == ifv::kFrameBufferSize);

namespace {

using velmor::Guarded;
constexpr auto kLibrary = velmor::LogLibrary::Ifv;

ifv::CCustomMp4File* Reading(FILEHANDLE* h) { return h && h->file.IsReading() ? &h->file : nullptr; }
ifv::CCustomMp4File* Writing(FILEHANDLE* h) { return h && h->file.IsWriting() ? &h->file : nullptr; }

void Deliver(const ifv::FrameInfo& info, uint32_t* framestarttime, uint64_t* pts, uint32_t* duration, uint8_t* bkey,
             uint8_t* bMediaType)
{
    if (framestarttime) *framestarttime = info.timestamp;
    if (pts) *pts = info.pts;
    if (duration) *duration = info.duration;
    if (bkey) *bkey = info.bkey;
    if (bMediaType) *bMediaType = info.mediaType;
}

}  // namespace

FILEHANDLE* RK_OpenFile2(const char* path, int64_t baseOffset, int mode)
{
    std::unique_ptr<FILEHANDLE> handle(new (std::nothrow) FILEHANDLE);
    if (!handle) {
        ifv::Message("RK-CLIENTFILELIB:malloc FILEHANDLE Fail,return NULL\n");
        return nullptr;
    }
    const int rc = Guarded(kLibrary, -1, [&] {
        if (mode == RK_FILE_MODE_READ) return handle->file.OpenForReading(path, baseOffset);
        if (mode == RK_FILE_MODE_WRITE) return handle->file.OpenForWriting(path);
        ifv::Message("open file failed\n");
        return -1;
    });
    return rc == 0 ? handle.release() : nullptr;
}

int RK_CloseFile2(FILEHANDLE* file)
{
    if (!file) return -1;
    std::unique_ptr<FILEHANDLE> owner(file);
    std::lock_guard lock(file->file.Mutex());
    return Guarded(kLibrary, -1, [&] { return file->file.custommp4_destroy(); });
}

uint32_t RK_FileGetStartTime(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? f->BeginTime() : 0;
}

uint32_t RK_FileGetEndTime(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? f->EndTime() : 0;
}

uint32_t RK_FileGetDuration(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? f->DurationMs() : 0;
}

int RK_FileGetEventChannel(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? int(f->EventChannel()) : -1;
}

uint32_t RK_FileGetVideoCodec(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? f->VideoProps().codec.get() : 0;
}

int RK_FileGetWidth(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? int(f->VideoProps().width.get()) : 0;
}

int RK_FileGetHeight(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? int(f->VideoProps().height.get()) : 0;
}

float RK_FileGetFrameRate(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? f->VideoProps().frameRate() : 0.0f;
}

uint32_t RK_FileGetVideoFrameCount(FILEHANDLE* file)
{
    auto* f = Reading(file);
    if (!f) return 0;
    const uint64_t n = f->TotalVideoFrames();
    return n > UINT32_MAX ? UINT32_MAX : uint32_t(n);
}

uint32_t RK_FileGetAudioCodec(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? f->AudioProps().codec.get() : 0;
}

int RK_FileGetSampleRate(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? int(f->AudioProps().sampleRate.get()) : 0;
}

int RK_FileGetSampleWidth(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f ? int(f->AudioProps().sampleWidth.get()) : 0;
}

int RK_FileHasAudio(FILEHANDLE* file)
{
    auto* f = Reading(file);
    return f && f->TotalAudioFrames() > 0 ? 1 : 0;
}

int RK_FileGetAudioFrameSize(FILEHANDLE* file)
{
    auto* f = Reading(file);
    if (!f || f->TotalAudioFrames() == 0) return 0;
    return int(f->AudioProps().bytesPerFrame.get());
}

int RK_FileReadOneMediaFrame2(FILEHANDLE* file, uint8_t* buffer, uint32_t* framestarttime, uint64_t* pts,
                              uint32_t* duration, uint8_t* bkey, uint8_t* bMediaType)
{
    auto* f = Reading(file);
    if (!f || !buffer) return -1;
    // Held here too: a seek from another thread must not move the cursors
    // in the middle of a read.
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] {
        ifv::FrameInfo info;
        const int n = f->custommp4_read_one_media_frame2(buffer, RK_FILE_FRAME_BUFFER_SIZE, &info);
        if (n > 0) Deliver(info, framestarttime, pts, duration, bkey, bMediaType);
        return n;
    });
}

int RK_FileSeekToSysTime(FILEHANDLE* file, uint32_t time)
{
    auto* f = Reading(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] { return f->SeekToSysTime(time); });
}

int RK_FileSeekToTimeStamp(FILEHANDLE* file, uint32_t timestamp)
{
    auto* f = Reading(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] { return f->custommp4_seek_to_time_stamp(timestamp, 0); });
}

int RK_FileReadOneVideoFrame(FILEHANDLE* file, uint8_t* buffer, uint32_t* framestarttime, uint64_t* pts,
                             uint32_t* duration, uint8_t* bkey)
{
    auto* f = Reading(file);
    if (!f || !buffer) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] {
        ifv::FrameInfo info;
        const int n = f->custommp4_read_one_video_frame(buffer, RK_FILE_FRAME_BUFFER_SIZE, &info);
        if (n > 0) Deliver(info, framestarttime, pts, duration, bkey, nullptr);
        return n;
    });
}

int RK_FileGetVideoSizeByIFrame(FILEHANDLE* file, uint32_t timestamp, int codec, uint16_t* width, uint16_t* height)
{
    auto* f = Reading(file);
    if (!f) return 0;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, 0, [&] { return f->GetVideoSizeByIFrame(timestamp, codec, width, height); });
}

int RK_FileSetVideoParam(FILEHANDLE* file, int width, int height, float frameRate, int codec)
{
    auto* f = Writing(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] { return f->SetVideoParam(width, height, frameRate, codec); });
}

int RK_FileSetAudioParam(FILEHANDLE* file, int channels, int sampleWidth, int sampleRate, int codecIndex,
                         int bytesPerFrame, int frameDurationMs)
{
    auto* f = Writing(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] {
        return f->SetAudioParam(channels, sampleWidth, sampleRate, codecIndex, bytesPerFrame, frameDurationMs);
    });
}

int RK_FileEnableAttach(FILEHANDLE* file)
{
    auto* f = Writing(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] { return f->EnableAttach(); });
}

int RK_FileSetStartTime(FILEHANDLE* file, uint32_t time)
{
    auto* f = Writing(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] { return f->SetStartTime(time); });
}

int RK_FileWriteVideoFrame(FILEHANDLE* file, const uint8_t* data, uint32_t length, uint32_t timestamp,
                           uint8_t frameType, uint64_t pts, int* segmentClosed)
{
    if (segmentClosed) *segmentClosed = 0;
    auto* f = Writing(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1,
                   [&] { return f->WriteVideoFrame(data, length, timestamp, frameType, pts, segmentClosed); });
}

int RK_FileWriteAudioFrame(FILEHANDLE* file, const uint8_t* data, uint32_t length, uint32_t timestamp,
                           int* segmentClosed)
{
    if (segmentClosed) *segmentClosed = 0;
    auto* f = Writing(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] { return f->WriteAudioFrame(data, length, timestamp, segmentClosed); });
}

int RK_FileWriteAttachFrame(FILEHANDLE* file, const uint8_t* data, uint32_t length, uint32_t timestamp,
                            int* segmentClosed)
{
    if (segmentClosed) *segmentClosed = 0;
    auto* f = Writing(file);
    if (!f) return -1;
    std::lock_guard lock(f->Mutex());
    return Guarded(kLibrary, -1, [&] { return f->WriteAttachFrame(data, length, timestamp, segmentClosed); });
}

void RK_FileSetLogCallback(RK_LOG_CALLBACK callback, void* user)
{
    velmor::SetLogCallback(velmor::LogLibrary::Ifv, callback, user);
}

const char* RK_FileGetLastErrorText() { return velmor::LastErrorText(velmor::LogLibrary::Ifv); }
