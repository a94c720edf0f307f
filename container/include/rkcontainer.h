/*
 * rkcontainer: the player's reader for the recorder's container files.
 *
 * A container file ("fcNNNNN.rpo", 128 MiB or 256 MiB) holds 32 blocks of
 * recordings of up to sixteen channels. The reader lists the channels and the
 * time span of a file, selects one channel, seeks to an I frame and hands out
 * the channel's frames one by one, across block boundaries. It only reads:
 * the file is opened read-only.
 *
 * Every function returns 0 (or a count) on success and a negative value on
 * failure, as documented for each. No C++ exception crosses this interface.
 * A handle is used by one thread at a time.
 *
 * Devices (Linux): a block device, an image file, or "/proc/self/fd/N" for
 * a descriptor the caller holds open for reading (one the desktop's disk
 * service opened for a user who may not open the device node): it is
 * duplicated, never opened anew, and one open for writing is refused. Files
 * and devices are opened with O_NOATIME where the system permits it. A
 * partition whose mounted device cannot be opened is read from its index
 * block heads, as a copied folder is; a device named by the caller that
 * cannot be opened is a failure.
 */
#ifndef RKCONTAINER_H
#define RKCONTAINER_H

#include <stdint.h>

#include "common/include/rkcommon.h"

#if defined(_WIN32)
#define RKCONTAINER_API __declspec(dllexport)
#else
#define RKCONTAINER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The caller owns a handle slot (a void* it zeroes) and passes its address. */
typedef void* RKCONTAINER_HANDLE;

/* The encode record of a recording as stored with each block. */
typedef struct RKCONTAINER_ENCODE {
    uint8_t reso;          /* resolution code, see RKCONTAINER_ConvResolution */
    uint8_t videoStandard; /* 1 = 480/240-line system, other = 576/288-line system */
    uint8_t vEnc;          /* video encoding code (2 and 3: H.265, otherwise H.264) */
    uint8_t aEnc;          /* audio encoding code, 0 = no audio */
    uint8_t frameRate;     /* frames per second, 0 = unknown */
} RKCONTAINER_ENCODE;

/* The 16-byte head in front of every frame. */
typedef RK_FRAME_HEAD RKCONTAINER_FRAME_HEAD;

/* The payload buffer handed to RKCONTAINER_ReadOneFrame must hold at least
 * this many bytes: the largest frame of a main stream. A frame head that
 * announces more than its stream's maximum (this value for the main stream,
 * RKCONTAINER_MAX_SUB_FRAME_SIZE for the sub stream) is a bad head. */
#define RKCONTAINER_MAX_FRAME_SIZE 0x7FFF0
#define RKCONTAINER_MAX_SUB_FRAME_SIZE 0x3FFF0

/* ---- Whole partitions ------------------------------------------------------- */

/* The search filter: only the channel mask is read (bit n = channel n). */
typedef struct RKCONTAINER_FILTER {
    uint32_t chnMask;
} RKCONTAINER_FILTER;

/* One run of time-contiguous blocks of a channel within one container file
 * (52 bytes, little-endian). Fields marked "not written" keep the caller's bytes. */
#pragma pack(push, 1)
typedef struct RKCONTAINER_SEARCH_ENTRY {
    uint8_t notWritten0[4];
    uint8_t drive;         /* the first character of the disk path */
    uint8_t notWritten1[2];
    uint8_t channel;       /* 0..15 */
    uint8_t notWritten2[6];
    uint32_t size;         /* bytes of the entry's first block (useSize - lend) */
    uint32_t zero;         /* 0 */
    uint32_t beginTime;    /* seconds since 1970 */
    uint32_t endTime;
    uint8_t notWritten3[2];
    uint32_t fileNo;       /* container file number */
    char carNumber[16];    /* NUL-terminated, recorder code page */
} RKCONTAINER_SEARCH_ENTRY;
#pragma pack(pop)

/* Lists the recordings of the partitions whose container files are in the
 * folders `diskPaths` (each a recorder partition's mount point or a folder
 * copied off one). The partition's device is found among the mounted file
 * systems; a folder without one takes its geometry from its newest valid
 * index block head. Entries of every path are written one after another.
 * Returns the number of entries written (0 when nothing was found). */
RKCONTAINER_API int RKCONTAINER_SearchFileList(const char* const* diskPaths, int pathCount,
                                               const RKCONTAINER_FILTER* filter, RKCONTAINER_SEARCH_ENTRY* entries,
                                               int capacity);
/* The same with the device (block device or image file) of each path given;
 * a null device means "find it" as above. */
RKCONTAINER_API int RKCONTAINER_SearchFileListOnDevices(const char* const* diskPaths, const char* const* devices,
                                                        int pathCount, const RKCONTAINER_FILTER* filter,
                                                        RKCONTAINER_SEARCH_ENTRY* entries, int capacity);

/* ---- One container file --------------------------------------------------------- */

/* Opens a container file for reading.
 * 0: opened, the handle is stored in *slot; -1: no path, the path does not
 * exist, or the file could not be opened (nothing is stored). */
RKCONTAINER_API int RKCONTAINER_OpenFile(RKCONTAINER_HANDLE* slot, const char* path);

/* Closes the file and releases the reader. The slot is cleared, so a second
 * close of the same slot answers -2 instead of touching freed memory.
 * 0: closed; -2: the slot holds no handle. */
RKCONTAINER_API int RKCONTAINER_CloseFile(RKCONTAINER_HANDLE* slot);

/* Time span and channels of the whole file, for the channels of chnMask
 * (bit n = channel n). carNumber, when not null, is a buffer of at least 16
 * bytes that the caller zeroes; up to 15 bytes of the file's car number are
 * copied there, without a terminator. Outputs are written only when a block
 * of a requested channel was found.
 * Returns the result of reading the last block head (0 when it was read);
 * -1: no open file; -2: wrong file size, or a seek or read error. -2 can come
 * with outputs written. -2 for an empty slot. */
RKCONTAINER_API int RKCONTAINER_GetSomeChnFileInfo(RKCONTAINER_HANDLE* slot, uint32_t chnMask, uint32_t* beginTime,
                                                   uint32_t* endTime, uint32_t* foundMask, char* carNumber);

/* Which stream of a channel a handle reads. A recorder may record a channel
 * twice: a main stream of large pictures and a sub stream of small ones, in
 * the same file, as two separate recordings. */
#define RKCONTAINER_STREAM_DEFAULT 0 /* the main stream when present, else the sub stream */
#define RKCONTAINER_STREAM_MAIN 1    /* the main stream only */
#define RKCONTAINER_STREAM_SUB 2     /* the sub stream only */

/* Bits of RKCONTAINER_GetChnStreams' answer. */
#define RKCONTAINER_HAS_MAIN 0x1
#define RKCONTAINER_HAS_SUB 0x2

/* Chooses the stream that the next RKCONTAINER_GetOneChnFileInfo of this
 * handle selects; a channel already selected is read on in its stream until
 * then. A fresh handle reads RKCONTAINER_STREAM_DEFAULT.
 * 0: chosen; -1: not one of the RKCONTAINER_STREAM_ values (the choice is
 * unchanged); -2: empty slot. */
RKCONTAINER_API int RKCONTAINER_SetStream(RKCONTAINER_HANDLE* slot, int stream);

/* The streams channel `channel` (0..15) is recorded in within this file:
 * RKCONTAINER_HAS_MAIN and / or RKCONTAINER_HAS_SUB, 0 for neither. The
 * selected channel and its position are left as they were.
 * 0: *streams written; -1: no open file or a channel out of range; -2: wrong
 * file size, or an empty slot. */
RKCONTAINER_API int RKCONTAINER_GetChnStreams(RKCONTAINER_HANDLE* slot, int channel, uint32_t* streams);

/* One run of recording: the seconds from beginTime to endTime, both included. */
typedef struct RKCONTAINER_SPAN {
    uint32_t beginTime;
    uint32_t endTime;
} RKCONTAINER_SPAN;

/* The runs of recording of channel `channel` (0..15) within this file, in
 * either stream, in time order: blocks that meet or overlap (the next begins
 * at most one second after the previous ends) form one run. At most
 * `capacity` runs are written. The selected channel and its position are
 * left as they were.
 * >= 0: the number of runs written (0: the channel is not recorded); -1: no
 * open file, a channel out of range, or no room (null spans or capacity
 * below 1); -2: wrong file size, or an empty slot. */
RKCONTAINER_API int RKCONTAINER_GetChnSpans(RKCONTAINER_HANDLE* slot, int channel, RKCONTAINER_SPAN* spans,
                                            int capacity);

/* Selects channel `channel` (0..15) for reading in the stream chosen with
 * RKCONTAINER_SetStream (by default the main stream when present), positions
 * at its first frame and gives its time span and encode record.
 * 0: selected; -1: no open file or no block of that channel; -2: wrong file
 * size or a seek or read error, or an empty slot; -5: the channel is recorded,
 * but not in the stream chosen. After -1 and -5 no channel is selected. */
RKCONTAINER_API int RKCONTAINER_GetOneChnFileInfo(RKCONTAINER_HANDLE* slot, int channel, uint32_t* beginTime,
                                                  uint32_t* endTime, RKCONTAINER_ENCODE* encode);

/* Positions at the I frame at or before second `seekTime` of the selected
 * channel; before the first block, at the first I frame.
 * 0: positioned; -3: no such I frame; -2: empty slot. */
RKCONTAINER_API int RKCONTAINER_SeekIFrame(RKCONTAINER_HANDLE* slot, uint32_t seekTime, RKCONTAINER_ENCODE* encode);

/* Reads the next frame of the selected channel into `buffer` (at least
 * RKCONTAINER_MAX_FRAME_SIZE bytes) and its head into *head. *encode is the
 * new block's encode record when a block began with this call, else all zero.
 * 0: done; *head is written only when a frame was read, so the caller clears
 * head->sign beforehand to tell a frame from nothing (a block with no frame
 * left, a frame whose continuation is missing); -1: no file or no channel
 * selected; -2: bad frame head, the rest of the block is skipped (or an empty
 * slot); -4: end of the channel. */
RKCONTAINER_API int RKCONTAINER_ReadOneFrame(RKCONTAINER_HANDLE* slot, uint8_t* buffer, RKCONTAINER_FRAME_HEAD* head,
                                             RKCONTAINER_ENCODE* encode);

/* The container file number in a path: the decimal digits after the first
 * "fc" anywhere in it. 0: found, stored in *fileNo; -1: none (unchanged). */
RKCONTAINER_API int RKCONTAINER_GetBlockIdByFileName(const char* path, int* fileNo);

/* Picture size of a resolution code. The handle slot is not used.
 * 0: known code; -1: unknown code (outputs untouched). */
RKCONTAINER_API int RKCONTAINER_ConvResolution(RKCONTAINER_HANDLE* slot, int reso, int* width, int* height,
                                               int videoStandard);

/* Failures and diagnostics (common/include/rkcommon.h). */
RKCONTAINER_API void RKCONTAINER_SetLogCallback(RK_LOG_CALLBACK callback, void* user);
RKCONTAINER_API const char* RKCONTAINER_GetLastErrorText(void);

#ifdef __cplusplus
}
#endif

#endif /* RKCONTAINER_H */
