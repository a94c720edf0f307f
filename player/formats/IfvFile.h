// The IFV file library of the player: reads ".ifv" record files (video,
// audio and attached-information records in time order, seeks to key frames)
// and writes them when a clip is cut.
//
// A handle is opened for reading (mode 0) or writing (mode 1). A reading
// handle never writes: recorder media are opened read-only. Only a writing
// handle creates a file, and it is meant for exports.
//
// Getters and readers handed no handle, or a handle of the other mode, answer
// 0 (RK_FileGetEventChannel: -1; readers and seeks: -1); writer calls on a
// reading handle do nothing and answer -1. Diagnostics go, one line each, to
// the log callback set with RK_FileSetLogCallback; nothing is printed.
#pragma once

#include <cstdint>
#include <memory>

#include "common/include/rkcommon.h"

struct FILEHANDLE;  // one open IFV file; freed by RK_CloseFile2

// Every buffer handed to a reader must hold this many bytes.
constexpr uint32_t RK_FILE_FRAME_BUFFER_SIZE = 2457600;

constexpr int RK_FILE_MODE_READ = 0;
constexpr int RK_FILE_MODE_WRITE = 1;

// Media kinds of the records a reader delivers.
constexpr uint8_t RK_FILE_MEDIA_VIDEO = 0;
constexpr uint8_t RK_FILE_MEDIA_AUDIO = 1;
constexpr uint8_t RK_FILE_MEDIA_ATTACH = 2;

// Opens `path` (UTF-8). Reading: the IFV image starts at byte `baseOffset` of
// the file, and every offset inside it counts from there. Writing: the file is
// created (or truncated) and the image starts at byte 0. Returns the handle,
// or null when the file cannot be opened or is not an IFV file.
FILEHANDLE* RK_OpenFile2(const char* path, int64_t baseOffset, int mode);
// Finishes a written file, closes and frees the handle. 0, or -1 when the
// finishing writes or the close failed (the handle is freed all the same).
int RK_CloseFile2(FILEHANDLE* file);

// Owns a handle and closes it when it goes; release() it into RK_CloseFile2
// where the close's result matters.
struct CIfvFileCloser {
    void operator()(FILEHANDLE* file) const { RK_CloseFile2(file); }
};
using IfvFilePtr = std::unique_ptr<FILEHANDLE, CIfvFileCloser>;

// ---- Reading ------------------------------------------------------------------

uint32_t RK_FileGetStartTime(FILEHANDLE* file);  // seconds since 1970
uint32_t RK_FileGetEndTime(FILEHANDLE* file);    // from the timestamps, not the stored field
uint32_t RK_FileGetDuration(FILEHANDLE* file);   // ms
int RK_FileGetEventChannel(FILEHANDLE* file);
uint32_t RK_FileGetVideoCodec(FILEHANDLE* file);  // four characters, the first in the low byte
int RK_FileGetWidth(FILEHANDLE* file);
int RK_FileGetHeight(FILEHANDLE* file);
float RK_FileGetFrameRate(FILEHANDLE* file);
uint32_t RK_FileGetVideoFrameCount(FILEHANDLE* file);
uint32_t RK_FileGetAudioCodec(FILEHANDLE* file);  // four characters, as the video codec
int RK_FileGetSampleRate(FILEHANDLE* file);
int RK_FileGetSampleWidth(FILEHANDLE* file);
int RK_FileHasAudio(FILEHANDLE* file);          // 1 when any audio frame exists
int RK_FileGetAudioFrameSize(FILEHANDLE* file);  // bytes per audio frame; 0 without audio frames

// The next record in time order (video before audio before attach on equal
// timestamps) into `buffer` (RK_FILE_FRAME_BUFFER_SIZE bytes). Returns its
// size; 0 at the end of the file; -1 on an error (a damaged index, a record
// beyond the file's end). `bMediaType` is 0 video, 1 audio, 2 attach;
// `duration` in ms; `bkey` the video frame type (0 for other records).
int RK_FileReadOneMediaFrame2(FILEHANDLE* file, uint8_t* buffer, uint32_t* framestarttime, uint64_t* pts,
                              uint32_t* duration, uint8_t* bkey, uint8_t* bMediaType);

// Positions the reader on the first key frame whose timestamp + 1600 ms
// reaches wall-clock second `time`; the segment's attach records come first.
// 1 positioned; 0 no such key frame (the position is kept); -1 index error.
int RK_FileSeekToSysTime(FILEHANDLE* file, uint32_t time);
// The same for a timestamp in ms, without the 1600 ms allowance.
int RK_FileSeekToTimeStamp(FILEHANDLE* file, uint32_t timestamp);

// Video frames only, in file order, from the last seek's key frame (or the
// first frame). Same results and buffer size as RK_FileReadOneMediaFrame2;
// it does not move the time-ordered reader.
int RK_FileReadOneVideoFrame(FILEHANDLE* file, uint8_t* buffer, uint32_t* framestarttime, uint64_t* pts,
                             uint32_t* duration, uint8_t* bkey);

// Picture size from the sequence parameter set of the first key frame at or
// after `timestamp` (ms); codec 0 H.264, else H.265. 1 found, else 0. Moves
// both readers to that key frame.
int RK_FileGetVideoSizeByIFrame(FILEHANDLE* file, uint32_t timestamp, int codec, uint16_t* width,
                                uint16_t* height);

// ---- Writing ------------------------------------------------------------------

// Codec 1 is H.265, anything else H.264. 0, or -1.
int RK_FileSetVideoParam(FILEHANDLE* file, int width, int height, float frameRate, int codec);
// `codecIndex` is the audio type index (0..12; others are "GRAW"). 0, or -1.
int RK_FileSetAudioParam(FILEHANDLE* file, int channels, int sampleWidth, int sampleRate, int codecIndex,
                         int bytesPerFrame, int frameDurationMs);
int RK_FileEnableAttach(FILEHANDLE* file);
int RK_FileSetStartTime(FILEHANDLE* file, uint32_t time);

// Each returns the bytes written, or -1 (no area for the kind in the current
// segment, no data, a frame larger than a reader's buffer, an attach payload
// over 120 bytes, a write failure or a position beyond the format's 256 MiB).
// `segmentClosed` (may be null) is set to 1 when the frame filled and closed
// a segment, else 0.
int RK_FileWriteVideoFrame(FILEHANDLE* file, const uint8_t* data, uint32_t length, uint32_t timestamp,
                           uint8_t frameType, uint64_t pts, int* segmentClosed);
int RK_FileWriteAudioFrame(FILEHANDLE* file, const uint8_t* data, uint32_t length, uint32_t timestamp,
                           int* segmentClosed);
int RK_FileWriteAttachFrame(FILEHANDLE* file, const uint8_t* data, uint32_t length, uint32_t timestamp,
                            int* segmentClosed);

// ---- Diagnostics --------------------------------------------------------------

// Lines handed to the log callback carry the levels of common/include/rkcommon.h;
// the debug-output channel's lines come at RK_LOG_DEBUG.
void RK_FileSetLogCallback(RK_LOG_CALLBACK callback, void* user);
// The calling thread's last failure text ("" when none); meaningful after a
// call failed, valid until the thread's next call into the library.
const char* RK_FileGetLastErrorText();
