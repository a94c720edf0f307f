/*
 * rkmedia: the media engine. Decodes recorded video and sound, draws into
 * the player's windows, writes snapshots and MP4 files.
 *
 * Every function returns as documented for it; no C++ exception crosses
 * this interface.
 */
#ifndef RKMEDIA_H
#define RKMEDIA_H

#include <stdint.h>

#include "common/include/rkcommon.h"

#if defined(_WIN32)
#define RKMEDIA_API __declspec(dllexport)
#else
#define RKMEDIA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The caller owns a handle slot (a void* it zeroes) and passes its address. */
typedef void* RKPLAYER_HANDLE;

/* Audio parameters of a stream, passed by value. */
typedef struct RKPLAYER_AUDIO_PARAM {
    int32_t reserved;   /* kept, not used */
    int32_t sampleRate; /* samples per second */
    int32_t bits;       /* bits per sample */
    int32_t compress;   /* audio compression type 1..12; any other value is treated as 3 */
} RKPLAYER_AUDIO_PARAM;

/* An equalizer preset, passed by value (64 bytes). */
typedef struct RKPLAYER_EQ_PRESET {
    char name[16];   /* zero-padded ASCII */
    int32_t bands;   /* 10 */
    float preamp;    /* dB */
    float amp[10];   /* dB per band */
} RKPLAYER_EQ_PRESET;

/* ---- Video ------------------------------------------------------------------
 * One player per play window. A window handle is the native window id of the
 * window to draw into (an X11 Window id on Linux), cast to a pointer. */

/* Creates the player in an empty slot, then prepares an H.264 (videoType
 * other than 1) or H.265 (1) decoder. 0 / -1. hwAccel is only reported: the
 * decoding path is chosen when the window is bound. */
RKMEDIA_API int RKPLAYER_InitVideoDecoder(RKPLAYER_HANDLE* slot, int width, int height, int videoType, int frameRate,
                                          int hwAccel);
/* Binds the window, chooses hardware decoding when the machine offers it
 * ("vaapi", then "cuda") or software decoding, creates the renderer and opens
 * the decoder. 0 / -1; a null window clears the player's window and gives -1.
 * A device type is passed over when its device cannot be created, when the
 * decoder does not open with it, or when its first picture cannot be copied
 * to system memory (that picture is then decoded again on the next path);
 * software decoding is the last path. The environment variable VELMOR_HWDEC
 * chooses: "vaapi" or "cuda" tries only that type, "none" decodes in
 * software; any other value decodes in software and says so
 * (RKPLAYER_GetHwDecodePath). */
RKMEDIA_API int RKPLAYER_SetShowWnd(RKPLAYER_HANDLE* slot, void* window, int windowNumber);
/* Opens the decoder without a window: pictures are decoded and kept for
 * RKPLAYER_SavePictureFile but not shown (thumbnails, snapshots from the
 * command line). Software decoding. 0 / -1. */
RKMEDIA_API int RKPLAYER_OpenOffscreen(RKPLAYER_HANDLE* slot);
/* 1 = keep the picture's aspect ratio (centred, black bars); other = stretch. Always 0. */
RKMEDIA_API int RKPLAYER_SetVideoDisplayScale(RKPLAYER_HANDLE* slot, int scaleMode);
/* Decodes one access unit (Annex B) and hands every picture it yields to the
 * window, which draws on a thread of its own: the newest picture, at most
 * once per display refresh, so that decoding (32x play, many windows) never
 * waits for the screen.
 * keyFlag non-zero marks a key frame. data null drains the decoder. Out
 * pointers may be null. 0 shown; -2 decoder not ready (until a key frame
 * arrives); other negative values from the decoder or the renderer. */
RKMEDIA_API int RKPLAYER_DecodeFrame(RKPLAYER_HANDLE* slot, const uint8_t* data, int length, int keyFlag,
                                     void* reserved, int* frameBytes, int* width, int* height);
/* Shows the last picture again (after a resize or while paused) and returns
 * once it is on screen. 0, the presentation result, or -2 when there is
 * nothing to show. */
RKMEDIA_API int RKPLAYER_ShowLastFrame(RKPLAYER_HANDLE* slot);
/* Stepping picture by picture. With show 0, decoded pictures become the
 * last picture (RKPLAYER_ShowLastFrame, RKPLAYER_SavePictureFile) without
 * being drawn; 1 (the default) draws them again. 0 / -1. */
RKMEDIA_API int RKPLAYER_SetShowDecoded(RKPLAYER_HANDLE* slot, int show);
/* Keeps the last picture under `stamp` (any number the caller chooses, its
 * time for instance), replacing one kept under the same stamp, so that
 * stepping back shows it again without decoding. At most
 * RKPLAYER_MAX_KEPT_PICTURES are kept: beyond that the lowest stamp goes.
 * 0; -2 without a picture; -1 without a player. */
#define RKPLAYER_MAX_KEPT_PICTURES 300
RKMEDIA_API int RKPLAYER_KeepLastPicture(RKPLAYER_HANDLE* slot, long long stamp);
/* Makes the picture kept under `stamp` the last picture and shows it,
 * returning once it is on screen (as RKPLAYER_ShowLastFrame). 0, the
 * presentation result, -2 when nothing is kept under it, -1 without a player. */
RKMEDIA_API int RKPLAYER_ShowKeptPicture(RKPLAYER_HANDLE* slot, long long stamp);
/* Lets every kept picture go. 0 / -1. */
RKMEDIA_API int RKPLAYER_DropKeptPictures(RKPLAYER_HANDLE* slot);
/* Zoom: the window shows the part of the picture enlarged `factor` times
 * (1 to 8) around the picture point (cx, cy) (picture pixels), moved in so
 * that it stays inside the picture; factor 1 shows the whole picture again.
 * Drawn from the decoded picture: nothing is decoded again. The zoom is
 * kept for the pictures that follow until it is ended. 0 / -1. */
RKMEDIA_API int RKPLAYER_SetZoom(RKPLAYER_HANDLE* slot, double factor, double cx, double cy);
/* The zoom as the last picture is drawn with it (factor 1 and the picture's
 * centre when not zoomed). 0 / -1. */
RKMEDIA_API int RKPLAYER_GetZoom(RKPLAYER_HANDLE* slot, double* factor, double* cx, double* cy);
/* The mouse wheel over the window: `steps` notches (positive enlarge, each
 * 1.25 times), keeping the picture point under window point (x, y) where it
 * is, in a window of windowW x windowH. 0; -2 without a picture; -1. */
RKMEDIA_API int RKPLAYER_ZoomAt(RKPLAYER_HANDLE* slot, int steps, int x, int y, int windowW, int windowH);
/* A drag over a zoomed window: the picture follows the pointer by (dx, dy)
 * window pixels. 0; -2 without a picture; -1. */
RKMEDIA_API int RKPLAYER_PanZoom(RKPLAYER_HANDLE* slot, int dx, int dy, int windowW, int windowH);
/* As RKPLAYER_SavePictureFile, the zoomed view: the part of the picture the
 * window shows, enlarged to the picture's size. */
RKMEDIA_API int RKPLAYER_SaveZoomedPictureFile(RKPLAYER_HANDLE* slot, const char* path, int pictureFormat);
/* What the window of a player did with its pictures since it was bound: a
 * window is drawn at most once per display refresh, with the newest
 * picture; pictures decoded faster than that are passed over. */
typedef struct RKPLAYER_SHOW_STAT {
    unsigned long long handed;      /* pictures decoded and handed to the window */
    unsigned long long shown;       /* pictures drawn */
    unsigned long long passedOver;  /* replaced by a newer picture before they were drawn */
    unsigned long long shownOnTime; /* drawn within one frame period of their access unit coming in */
} RKPLAYER_SHOW_STAT;
/* 0, or -1 without a player or stat. */
RKMEDIA_API int RKPLAYER_GetShowStat(RKPLAYER_HANDLE* slot, RKPLAYER_SHOW_STAT* stat);
/* The decoding path a player uses (RKPLAYER_SetShowWnd). */
#define RKPLAYER_HWDEC_REASON_BYTES 256
typedef struct RKPLAYER_HWDEC_PATH {
    char name[8]; /* "vaapi", "cuda" or "none" (software; also before a window
                   * is bound and for offscreen players); zero-terminated */
    char reason[RKPLAYER_HWDEC_REASON_BYTES]; /* when software decoding was chosen
                   * after hardware failed: each device type tried and why it was
                   * given up ("vaapi: ...; cuda: ..."), or the VELMOR_HWDEC value
                   * that named no path; zero-terminated UTF-8, cut to fit. "" on a
                   * hardware path and when software was asked for ("none") */
} RKPLAYER_HWDEC_PATH;
/* Fills *path; any thread may ask, also while the player decodes. The path
 * changes when the window is bound again, at a rebuild, and once more when a
 * device's first picture fails. 0, or -1 without a player or path. */
RKMEDIA_API int RKPLAYER_GetHwDecodePath(RKPLAYER_HANDLE* slot, RKPLAYER_HWDEC_PATH* path);
/* On-screen text (recorder code page bytes; "," separates lines, at most five
 * are drawn); at most 49 bytes are kept; length 0 clears it. 0 / -1. */
RKMEDIA_API int RKPLAYER_SetOSDText(RKPLAYER_HANDLE* slot, const char* text, int length);
/* Writes the current picture to path (UTF-8): 0 JPEG, 1 PNG, 2 BMP. Missing
 * folders on the path are created. 0 / negative. */
RKMEDIA_API int RKPLAYER_SavePictureFile(RKPLAYER_HANDLE* slot, const char* path, int pictureFormat);
/* Ends a waiting RKPLAYER_InitVideoDecoder early. 0 / -1. */
RKMEDIA_API int RKPLAYER_SetExitFlag(RKPLAYER_HANDLE* slot);
/* Releases everything the player holds and frees it; the slot is cleared. */
RKMEDIA_API void RKPLAYER_Uninitgpu(RKPLAYER_HANDLE* slot);

/* ---- Sound (one shared output for the process) --------------------------------- */

RKMEDIA_API int RKPLAYER_InitAudioDecoder(RKPLAYER_HANDLE* slot, RKPLAYER_AUDIO_PARAM param);
/* Decodes one recorder voice frame into 16-bit PCM (pcmOut, *pcmBytes) and
 * plays it; with the player's low-pass filter on, pcmOut holds the filtered
 * samples. Always 0. */
RKMEDIA_API int RKPLAYER_DecordOneAudioFrame(RKPLAYER_HANDLE* slot, const uint8_t* frame, int length, uint8_t* pcmOut,
                                             int* pcmBytes);
RKMEDIA_API int RKPLAYER_SetAudioVolume(RKPLAYER_HANDLE* slot, int volume);  /* 0..128 */
RKMEDIA_API int RKPLAYER_SetAudioDecordQuit(RKPLAYER_HANDLE* slot, int quit);
RKMEDIA_API int RKPLAYER_UnInitAudioDecoder(RKPLAYER_HANDLE* slot);
RKMEDIA_API int RKPLAYER_EnableAudioEqualizer(RKPLAYER_HANDLE* slot, int enable, RKPLAYER_EQ_PRESET preset);
/* Switches the player's low-pass filter on its decoded voice (second-order
 * Butterworth) before the shared noise suppression and equalizer; each
 * player filters on its own. cutoff is a fraction of half the sample rate:
 * at 8000 samples per second 0.8 cuts off at 3200 Hz and 0.5 at 2000 Hz; 1
 * passes everything; a value outside (0, 1] means 0.8. Switching the filter
 * on or changing the cut-off starts it from silence. Without a player,
 * nothing happens. Always 0. */
RKMEDIA_API int RKPLAYER_EnableLowPassFilter(RKPLAYER_HANDLE* slot, int enable, float cutoff);
RKMEDIA_API int RKPLAYER_EnableRemoveNoise(RKPLAYER_HANDLE* slot, int enable, int type);

/* ---- MP4 writing and AAC conversion ---------------------------------------------
 * Clip export: recorded access units into an MP4 file with an AAC sound
 * track. A file is written as "<path>.part" and gets its name only when
 * RKPLAYER_CloseMp4File has finished it. */

/* Room the caller gives for one AAC frame, a decoder configuration and the
 * PCM of `length` input bytes. */
#define RKPLAYER_AAC_MAX_FRAME_BYTES 1536
#define RKPLAYER_AAC_CONFIG_MAX_BYTES 64
#define RKPLAYER_PCM_MAX_BYTES(length) ((length) * 16)

/* An AAC encoder for recorder voice frames of compression type `compress`
 * (1..12, any other value as 3) at the caller's sample rate (an AAC rate)
 * and channel count (1 or 2). 1 when the encoder was created, 0 otherwise;
 * the slot is filled either way when memory allowed (release it with
 * RKPLAYER_ConvertPCMToAACUnit). */
RKMEDIA_API int RKPLAYER_ConvertPCMToAACInit(RKPLAYER_HANDLE* slot, int channels, int sampleRate, int reserved,
                                             int compress);
/* Decodes the voice frames of the input (each with its 4-byte header, one
 * after another) and writes at most one raw AAC frame (1024 samples, up to
 * RKPLAYER_AAC_MAX_FRAME_BYTES) to output. 1 when a frame was written, else
 * 0. The encoder runs one frame behind its input. */
RKMEDIA_API int RKPLAYER_ConvertPCMToAACEncode(RKPLAYER_HANDLE* slot, const uint8_t* input, int length,
                                               uint8_t* output, int* outLength);
/* After the last voice frame: hands out the frames the encoder still holds,
 * one per call (the last may be short of samples). 1 while there was one,
 * 0 when nothing is left; no more input is taken afterwards. */
RKMEDIA_API int RKPLAYER_ConvertPCMToAACFlush(RKPLAYER_HANDLE* slot, uint8_t* output, int* outLength);
/* The AudioSpecificConfig of the stream (up to RKPLAYER_AAC_CONFIG_MAX_BYTES).
 * 1 (0 for an empty slot or null pointers). */
RKMEDIA_API int RKPLAYER_ConvertPCMToAACGetEncConfig(RKPLAYER_HANDLE* slot, uint8_t* config, int* configLength);
/* Frees the encoder. 1, 0 for an empty slot. The slot is cleared. */
RKMEDIA_API int RKPLAYER_ConvertPCMToAACUnit(RKPLAYER_HANDLE* slot);

/* The reverse: voice frames to 16-bit PCM, interleaved over the channels
 * (up to RKPLAYER_PCM_MAX_BYTES(length) bytes). Same results as above. */
RKMEDIA_API int RKPLAYER_ConvertAudioToPCMInit(RKPLAYER_HANDLE* slot, int channels, int sampleRate, int reserved,
                                               int compress);
RKMEDIA_API int RKPLAYER_ConvertAudioToPCMDecord(RKPLAYER_HANDLE* slot, const uint8_t* input, int length,
                                                 uint8_t* output, int* outLength);
RKMEDIA_API int RKPLAYER_ConvertAudioToPCMUnit(RKPLAYER_HANDLE* slot);

/* Creates the MP4 writer (path UTF-8; the format follows the extension,
 * "mpeg" when it names none) for H.264 (videoType other than 1) or H.265
 * (1) access units at a frame rate normalised to 1, 3, 5, 8, 10, 12, 15,
 * 20 or 25, or kept when far from all of them. 0, a negative muxer error,
 * or -1 for bad arguments or without memory. The slot is filled whenever
 * the writer exists, also on failure; close it with RKPLAYER_CloseMp4File. */
RKMEDIA_API int RKPLAYER_CreateMp4FileInit(RKPLAYER_HANDLE* slot, int width, int height, int videoType,
                                           int frameRate, const char* path);
/* One access unit (Annex B) as recorded; stamped frame counter / frame rate.
 * Refused (-1) until the first key frame (keyFlag non-zero). 0 / negative. */
RKMEDIA_API int RKPLAYER_WriteMp4VideoData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length, int keyFlag,
                                           uint64_t time);
/* One raw AAC frame from RKPLAYER_ConvertPCMToAACEncode (8000 Hz, mono);
 * stamped by the samples before it. 0 / negative. */
RKMEDIA_API int RKPLAYER_WriteMp4AudioData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length);
/* Finishes the file, gives it its name and frees the writer; the slot is
 * cleared. 0; a negative error when the file could not be finished (then
 * no file is left under either name); -1 for an empty slot. */
RKMEDIA_API int RKPLAYER_CloseMp4File(RKPLAYER_HANDLE* slot);

/* ---- Clips with burned-in text ---------------------------------------------------
 * A second file beside a clip: the same access units decoded, the on-screen
 * text of each picture's second drawn into it as the play windows draw it
 * (white on black boxes), and encoded again (H.264 or H.265 as recorded,
 * key pictures where the recording has them) with the clip's sound and
 * clock. Written as "<path>.part" until RKPLAYER_CloseOverlayMp4File has
 * finished it, as RKPLAYER_CreateMp4FileInit does. Failures leave their
 * reason in RKPLAYER_GetLastErrorText. */

/* As RKPLAYER_CreateMp4FileInit: 0, or negative; the slot is filled whenever
 * the writer exists, also on failure; close it with
 * RKPLAYER_CloseOverlayMp4File. */
RKMEDIA_API int RKPLAYER_CreateOverlayMp4FileInit(RKPLAYER_HANDLE* slot, int width, int height, int videoType,
                                                  int frameRate, const char* path);
/* One access unit (Annex B) as recorded and the text to draw on its picture
 * (UTF-8, textLength bytes, "," between lines, at most five drawn; 0 bytes:
 * none). Refused (-1) until the first key frame. 0 / negative. */
RKMEDIA_API int RKPLAYER_WriteOverlayMp4VideoData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length,
                                                  int keyFlag, uint64_t time, const char* text, int textLength);
/* One raw AAC frame, as RKPLAYER_WriteMp4AudioData. 0 / negative. */
RKMEDIA_API int RKPLAYER_WriteOverlayMp4AudioData(RKPLAYER_HANDLE* slot, const uint8_t* data, int length);
/* Draws and encodes what is still held, finishes the file, gives it its name
 * and frees the writer; the slot is cleared. 0; a negative error when the
 * file could not be finished or would not hold every picture written (then
 * no file is left under either name); -1 for an empty slot. */
RKMEDIA_API int RKPLAYER_CloseOverlayMp4File(RKPLAYER_HANDLE* slot);

/* ---- Multi-channel combination --------------------------------------------------
 * Per-channel files of one export tiled into one picture on black, their
 * sound mixed, encoded (H.264 or H.265, "ultrafast", 400 kbit/s; AAC). */

#define RKPLAYER_COMBINE_MAX_INPUTS 16
#define RKPLAYER_COMBINE_PATH_BYTES 520

/* One input (532 bytes). */
typedef struct RKPLAYER_COMBINE_INPUT {
    char path[RKPLAYER_COMBINE_PATH_BYTES]; /* zero-terminated, UTF-8 */
    int32_t position;                       /* grid cell, 0-based, row-major */
    int32_t effect;                         /* 0 none, 1 edge detection, 2 negative */
    int32_t reserved;                       /* 0 */
} RKPLAYER_COMBINE_INPUT;

/* Bytes the output settings call carries and does not use. */
typedef struct RKPLAYER_COMBINE_UNUSED {
    uint8_t bytes[68];
} RKPLAYER_COMBINE_UNUSED;

/* Inputs in the low half, grid cells (a square number) in the high half. */
#define RKPLAYER_COMBINE_COUNTS(inputs, cells) ((int64_t)(((uint64_t)(uint32_t)(cells) << 32) | (uint32_t)(inputs)))

/* Makes the combiner in the slot (a combiner already there is freed) and
 * stores the output settings: path, size, videoType (1 H.265, other H.264),
 * counts. 0, or -1 for a null slot or path or without memory. */
RKMEDIA_API int RKPLAYER_InitOutputAviParam(RKPLAYER_HANDLE* slot, const char* path, int width, int height,
                                            int videoType, RKPLAYER_COMBINE_UNUSED unused, int64_t counts);
/* Copies path and position of up to 16 inputs; their effect is set to 0.
 * 0 / -1. */
RKMEDIA_API int RKPLAYER_InitInputAvisParam(RKPLAYER_HANDLE* slot, const RKPLAYER_COMBINE_INPUT* inputs, int count);
/* Gives input `index` an effect (0, 1 or 2). 0, or -1 for any other effect
 * or index. */
RKMEDIA_API int RKPLAYER_SetCombinEffect(RKPLAYER_HANDLE* slot, int index, int effect);
/* Puts input `index` on the combination's clock: its file's first picture
 * belongs `startMs` after the span's start (negative: before it). Until then,
 * and after its last picture, its cell is black and it adds no sound.
 * 0, or -1 for an index out of range or a start more than a day away. */
RKMEDIA_API int RKPLAYER_SetCombinStart(RKPLAYER_HANDLE* slot, int index, int64_t startMs);
/* The span the combination covers, in ms from its start: the video lasts
 * that long whatever its inputs hold (0: until the last input ends).
 * 0, or -1 for a negative span or one over a day. */
RKMEDIA_API int RKPLAYER_SetCombinSpan(RKPLAYER_HANDLE* slot, int64_t spanMs);
/* Runs the whole combination on the caller's thread and frees the combiner
 * (the slot then holds a spent combiner that every call but
 * RKPLAYER_EndCombin refuses). 0 when the output file was finished; a
 * negative FFmpeg error otherwise, and then no output file is left. */
RKMEDIA_API int RKPLAYER_StartCombin(RKPLAYER_HANDLE* slot);
/* 0 for a filled slot, -1 for an empty one. A combiner that never ran is
 * freed here (the slot then holds a spent one). */
RKMEDIA_API int RKPLAYER_EndCombin(RKPLAYER_HANDLE* slot);

/* ---- Ordinary media files ------------------------------------------------------ */

/* Stream parameters of a media file. */
typedef struct RKPLAYER_VIDEO_PARAM {
    int32_t width;
    int32_t height;
    int32_t videoType; /* 1 H.265, 0 any other */
    int32_t frameRate;
} RKPLAYER_VIDEO_PARAM;

/* Opens a media file (UTF-8 path) in a new player stored in the slot (also on
 * failure, when memory allowed; release it with VIDEOPLAY_UnitMediaFile).
 * 0 opened; 1 not openable, no stream information or no decoder; -1 no video
 * stream or no memory. *duration in microseconds. Bind a window with
 * RKPLAYER_SetShowWnd next. */
RKMEDIA_API int VIDEOPLAY_InitMediaFile(RKPLAYER_HANDLE* slot, const char* path, RKPLAYER_VIDEO_PARAM* param,
                                        void* reserved, int64_t* duration);
/* Reads the next packet. 0 (an audio packet sets *isAudio; a video packet
 * becomes the current one, *pts in the stream's time base), or a negative
 * FFmpeg error at the end or on failure. */
RKMEDIA_API int VIDEOPLAY_ReadOneFrame(RKPLAYER_HANDLE* slot, int* isAudio, int64_t* pts);
/* Decodes and shows the current video packet when flush is 0; -1 otherwise.
 * The result says nothing about success; the decode result stays in the player. */
RKMEDIA_API int VIDEOPLAY_DecodeOneFrame(RKPLAYER_HANDLE* slot, int flush);
/* Positions on the key frame at or before timeMs (from the file's start).
 * 0, or negative when the file cannot be repositioned. */
RKMEDIA_API int VIDEOPLAY_SeekTimeTo(RKPLAYER_HANDLE* slot, int64_t timeMs);
/* Stops, releases everything and frees the player; the slot is cleared. 0. */
RKMEDIA_API int VIDEOPLAY_UnitMediaFile(RKPLAYER_HANDLE* slot);

/* What VIDEOPLAY_ReadOneFrame returns at the end of the file (FFmpeg's
 * end-of-file code); any other negative result is a failure. */
#define VIDEOPLAY_READ_END (-541478725)

/* Results of VIDEOPLAY_GetCurrentPacket. */
#define VIDEOPLAY_PACKET_OK 0
#define VIDEOPLAY_PACKET_BAD_ARGUMENT (-1) /* empty slot, null out pointer, negative capacity */
#define VIDEOPLAY_PACKET_NONE (-2)         /* no current video packet (below) */
#define VIDEOPLAY_PACKET_SMALL_BUFFER (-3) /* *length holds the bytes needed; nothing copied */

/* Copies the current video packet (the one the last VIDEOPLAY_ReadOneFrame
 * kept) into the caller's buffer of `capacity` bytes, for readers that
 * decode elsewhere. H.264 and H.265 come as Annex B access units, as
 * recorder frames do, whatever the container stores; other codecs as the
 * container stores them. *length = the packet's bytes, *keyFlag = 1 for a
 * key frame (else 0), *positionMs = its presentation time (its decoding time
 * when it has none) in ms on the file's own timeline. The packet stays
 * current, for VIDEOPLAY_DecodeOneFrame or another copy.
 * VIDEOPLAY_PACKET_NONE when the last read gave a sound packet, a packet of
 * another stream, the end or a failure, or when the packet was decoded.
 * buffer may be null when capacity is 0 (to learn the size). */
RKMEDIA_API int VIDEOPLAY_GetCurrentPacket(RKPLAYER_HANDLE* slot, uint8_t* buffer, int capacity, int* length,
                                           int* keyFlag, int64_t* positionMs);

/* The same for an AVI stream read through a caller's function. */
typedef int (*RKPLAYER_READ_FUNC)(void* context, uint8_t* buffer, int size);
RKMEDIA_API int RKPLAYER_MemoryInitMediaFile(RKPLAYER_HANDLE* slot, RKPLAYER_READ_FUNC read, void* context,
                                             RKPLAYER_VIDEO_PARAM* param, void* reserved, int64_t* duration);
RKMEDIA_API int RKPLAYER_MemoryReadOneFrame(RKPLAYER_HANDLE* slot, int* isAudio, int64_t* pts);
RKMEDIA_API int RKPLAYER_MemoryDecodeOneFrame(RKPLAYER_HANDLE* slot, int flush);
RKMEDIA_API int RKPLAYER_MemoryUnitMediaFile(RKPLAYER_HANDLE* slot);

/* Picture size from the sequence parameter set at the start of a key frame.
 * videoType 0 = H.264, non-zero = H.265. Needs no player.
 * Returns 1 when a size was found (stored in *width and *height), 0 otherwise. */
RKMEDIA_API int RKPLAYER_GetWidthAndHeightByIFrame(int videoType, const uint8_t* data, int length, uint16_t* width,
                                                   uint16_t* height);

/* Failures and diagnostics (common/include/rkcommon.h). */
RKMEDIA_API void RKPLAYER_SetLogCallback(RK_LOG_CALLBACK callback, void* user);
RKMEDIA_API const char* RKPLAYER_GetLastErrorText(void);

#ifdef __cplusplus
}
#endif

/* The recorder voice codec, exported by this library too. */
#include "rkvoice.h"

#endif /* RKMEDIA_H */
