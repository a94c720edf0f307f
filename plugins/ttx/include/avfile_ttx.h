/*
 * avfile_ttx: the reader of ".grec" recording files, a plugin the player
 * loads at run time by name (libavfile_ttx.so) and reaches only through the
 * AVFILE_ entries below, each found by name.
 *
 * What a grec file is
 * -------------------
 * A Matroska file (read through libavformat) holding:
 * - one video track, H.264 or H.265 (the first video track is the one read);
 * - at most one sound track: G.711 u-law (codec pcm_mulaw), G.711 A-law
 *   (pcm_alaw) or G.726 (adpcm_g726), mono, 8000 Hz. The track's tags
 *   AUDIO_ENCODING and AUDIO_RATE_CODE (decimal digits) give the recorder's
 *   sound encoding (7 u-law, 8 A-law, 2 and 3 the two G.726 packings) and
 *   its rate code (G.726: 2 = 16 kbit/s, 4 = 24, 1 = 40, any other = 32).
 *   Without the tags, the codec decides (u-law 7, A-law 8, G.726 2 with the
 *   rate code of its bit rate); a tag that contradicts the codec makes the
 *   file unreadable. Each block is one voice frame as the recorder stores it
 *   and the media engine decodes it (the recorder's 4-byte voice frame head,
 *   then the coded samples);
 * - at most one track of attached-information records: a subtitle track
 *   (S_TEXT/UTF8) named "attached-info" whose every block is one 75-byte
 *   record written as exactly 150 upper-case hexadecimal digits, nothing
 *   before or after them. A block of any other form is damage;
 * - the file tags ORIGIN_US (decimal digits: the recorder clock, in
 *   microseconds since 1970, of timestamp 0 of every track; required),
 *   TERMINAL and VEHICLE (the terminal number and the vehicle's plate, UTF-8;
 *   optional).
 * The file's span is ORIGIN_US to ORIGIN_US + the segment's duration. Key
 * frames are found through the file's cue index; a file without one is
 * scanned.
 *
 * Calls
 * -----
 * Every call returns 0 (or a count) on success and a negative AVFILE_ERR_
 * code on failure; the reason is also the calling thread's last error text
 * (AVFILE_GetLastErrorText) and goes to the log callback. No C++ exception
 * crosses this interface, nothing is printed, and no file is ever opened for
 * writing. A handle is used by one thread at a time; different handles may
 * be used on different threads at once. Damaged, cut or hostile files give
 * error codes.
 *
 * What libavformat logs while it works for a call of this plugin goes to the
 * plugin's log callback (debug level) instead of standard error: the plugin
 * installs FFmpeg's process-wide log callback once, and passes every line
 * logged outside its own calls on to FFmpeg's default handling.
 */
#ifndef AVFILE_TTX_H
#define AVFILE_TTX_H

#include <stdint.h>

#include "common/include/rkcommon.h"

#if defined(_WIN32)
#define AVFILE_API __declspec(dllexport)
#else
#define AVFILE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The caller owns a handle slot (a void* it zeroes) and passes its address. */
typedef void* AVFILE_HANDLE;

#define AVFILE_OK 0
#define AVFILE_ERR_ARGUMENT -1 /* a null pointer, an empty slot, or a slot that already holds a handle */
#define AVFILE_ERR_OPEN -2     /* the file cannot be opened for reading */
#define AVFILE_ERR_FORMAT -3   /* not a grec file: no Matroska, no H.264/H.265 track, a bad tag */
#define AVFILE_ERR_RANGE -4    /* a seek time after the file's end */
#define AVFILE_ERR_READ -5     /* damaged or cut data while reading frames */
#define AVFILE_ERR_BUFFER -6   /* the frame is larger than the buffer; it is kept for the next call */
#define AVFILE_ERR_MEMORY -7

/* The largest frame a reader hands out; a larger one is damage. */
#define AVFILE_MAX_FRAME_SIZE (8 * 1024 * 1024)

/* Video compressions. */
#define AVFILE_VIDEO_H264 1
#define AVFILE_VIDEO_H265 2

/* Library-wide use count: AVFILE_Initialize adds a user, AVFILE_UnInitialize
 * removes one (never below zero) and, when none is left, removes the log
 * callback. Open handles do not depend on it: a file may be opened without
 * initialising, and stays readable after the last uninitialise.
 * Both return the number of users left. */
AVFILE_API int AVFILE_Initialize(void);
AVFILE_API int AVFILE_UnInitialize(void);

/* Opens a grec file for reading and checks its tracks and tags; the reading
 * position is its first frame. 0: the handle is in *slot; AVFILE_ERR_OPEN,
 * AVFILE_ERR_FORMAT, AVFILE_ERR_ARGUMENT (nothing stored). */
AVFILE_API int AVFILE_FEOpenFile(AVFILE_HANDLE* slot, const char* path);

/* Closes the file; the slot is cleared, so a second close answers
 * AVFILE_ERR_ARGUMENT instead of touching freed memory. */
AVFILE_API int AVFILE_FECloseFile(AVFILE_HANDLE* slot);

typedef struct AVFILE_FILE_INFO {
    uint64_t beginTime;    /* microseconds since 1970, recorder clock */
    uint64_t endTime;      /* likewise; never before beginTime */
    int32_t width;         /* pixels, 1..16384 */
    int32_t height;
    int32_t videoCompress; /* AVFILE_VIDEO_H264 or AVFILE_VIDEO_H265 */
    int32_t frameRate;     /* frames per second, rounded; 25 when the file does not say */
    int32_t hasAudio;      /* 1 with a sound track */
    int32_t hasInfo;       /* 1 with an attached-information track */
} AVFILE_FILE_INFO;
AVFILE_API int AVFILE_FEGetFileInfo(AVFILE_HANDLE* slot, AVFILE_FILE_INFO* info);

/* Back to the first frame. */
AVFILE_API int AVFILE_FESeekBegin(AVFILE_HANDLE* slot);

typedef struct AVFILE_WAVE_FORMAT {
    int32_t encoding;   /* 0 without sound, else 7, 8, 2 or 3 (see above) */
    int32_t rateCode;   /* G.726 only, else 0 */
    int32_t sampleRate; /* 8000 */
    int32_t channels;   /* 1 */
    int32_t bitsPerSample; /* of the coded sound: 8 for G.711, 2..5 for G.726 */
} AVFILE_WAVE_FORMAT;
/* 0 with the format, or with encoding 0 when the file has no sound. */
AVFILE_API int AVFILE_FEGetWaveFormat(AVFILE_HANDLE* slot, AVFILE_WAVE_FORMAT* wave);

typedef struct AVFILE_TERMINAL_INFO {
    char terminal[32]; /* NUL-terminated UTF-8, "" when the file names none */
    char vehicle[32];
} AVFILE_TERMINAL_INFO;
AVFILE_API int AVFILE_FEGetTerminalInfo(AVFILE_HANDLE* slot, AVFILE_TERMINAL_INFO* info);

/* Positions on the video key frame at or before `timeUs` (microseconds
 * since 1970); a time before the first key frame gives the first key frame.
 * The next frame read is that key frame; sound and information frames older
 * than it are passed over. AVFILE_ERR_RANGE: the time lies after the end. */
AVFILE_API int AVFILE_FESeekIFrame(AVFILE_HANDLE* slot, uint64_t timeUs);

#define AVFILE_FRAME_VIDEO 0
#define AVFILE_FRAME_AUDIO 1
#define AVFILE_FRAME_INFO 2

typedef struct AVFILE_FRAME {
    int32_t type;    /* AVFILE_FRAME_VIDEO, _AUDIO or _INFO */
    int32_t key;     /* 1: a video key frame; sound and information frames are 0 */
    uint64_t timeUs; /* microseconds since 1970, recorder clock */
    uint32_t length; /* bytes written to the buffer (or needed, with AVFILE_ERR_BUFFER) */
} AVFILE_FRAME;

/* Reads the next frame, in file order, into `buffer`: video as Annex B (start
 * codes, parameter sets in front of key frames), sound as stored, an
 * information frame as the 75-byte record. Returns the length (> 0), 0 at
 * the end of the file, AVFILE_ERR_BUFFER when `capacity` is too small
 * (frame->length tells the size; the frame stays next), AVFILE_ERR_READ on
 * damage (reading after it keeps failing until a seek). */
AVFILE_API int AVFILE_FEReadFrame(AVFILE_HANDLE* slot, uint8_t* buffer, uint32_t capacity, AVFILE_FRAME* frame);

/* Failures and diagnostics (common/include/rkcommon.h). */
AVFILE_API void AVFILE_SetLogCallback(RK_LOG_CALLBACK callback, void* user);
AVFILE_API const char* AVFILE_GetLastErrorText(void);

#ifdef __cplusplus
}
#endif

#endif /* AVFILE_TTX_H */
