/*
 * rkstore: the recorder's container block-bunch file system.
 *
 * This header offers the functions that need no mounted partition:
 * - backup record files: one recording exported from the recorder as a
 *   plain file (also named ".rkrec");
 * - block-bunch record files: the recordings whose blocks lie in one
 *   container file ("fcNNNNN.rpo"), listed and read without a mount;
 * - resolution codes and a diagnostic print of a block head.
 *
 * Files are only ever opened for reading. Every function returns as stated
 * for it; failures print one line to standard output ("function:line ...").
 * No C++ exception crosses this interface. An operation structure is used by
 * one thread at a time; several may be open at once.
 */
#ifndef RKSTORE_H
#define RKSTORE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define RKSTORE_API __declspec(dllexport)
#else
#define RKSTORE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What a reader knows of one record file. */
typedef struct StRecFileInfo_t {
    int32_t uuid;        /* record file id; for a block bunch its first block id */
    char dirTail2[3];    /* last two characters of the mount directory; empty here */
    uint8_t channel;     /* 0..15 */
    uint8_t subStream;   /* 0 main, 1 sub stream */
    uint8_t readOnly;    /* any block protected from covering */
    uint32_t reasonBit;  /* OR of the blocks' 24-bit record reasons */
    uint64_t size;       /* bytes as stored in a backup record file */
    uint32_t beginTime;  /* seconds since 1970 on the recorder's clock */
    uint32_t endTime;    /* last second covered */
    uint8_t writing;     /* any block still being written */
    uint8_t continued;   /* the recording goes on before (or after) this file */
} StRecFileInfo_t;

/* The encode record of a recording. */
typedef struct StRecEncode_t {
    uint32_t reso;         /* resolution code, see RKSFS_ConvResolution */
    uint8_t videoStandard; /* 1 = 480/240-line system, other = 576/288-line system */
    uint32_t vEnc;         /* video encoding code */
    uint32_t aEnc;         /* audio encoding code, 0 = no audio */
    uint8_t frameRate;     /* frames per second */
} StRecEncode_t;

/* The recording's audio property: 14 bytes handed on verbatim (a 64-bit, a
 * 32-bit and a 16-bit little-endian word) for the audio decoder. */
typedef struct StAudioProp_t {
    uint8_t bytes[14];
} StAudioProp_t;

/* The 16-byte head of a frame. */
typedef struct RKSFS_FRAME_HEAD {
    uint8_t sign;      /* 'F' */
    uint8_t channel;
    uint8_t subStream;
    uint8_t type;      /* 1 I frame, 2 and 3 other video, 4 audio, 5 attached information */
    uint32_t length;   /* payload bytes */
    uint64_t pts;      /* microseconds */
} RKSFS_FRAME_HEAD;

/* Largest frame payloads; a read buffer must hold maxFrameSize + 16 bytes. */
#define RKSFS_MAX_FRAME_SIZE 0x7FFF0
#define RKSFS_MAX_SUB_FRAME_SIZE 0x3FFF0
#define RKSFS_READ_BUFFER_SIZE (RKSFS_MAX_FRAME_SIZE + 16)

/* ---- Backup record files --------------------------------------------------- */

/* Caller-owned; zero it before the first open, read only recFI (and the
 * position fields, for diagnostics); close it when done. */
typedef struct StRecBakFileOp_t {
    char filePath[256];
    void* stream;              /* the library's open file */
    StRecFileInfo_t recFI;
    uint32_t maxFrameSize;     /* 0x7FFF0 main stream, 0x3FFF0 sub stream */
    uint32_t dataBlkCnt;       /* blocks found in the file */
    const uint8_t* heads;      /* dataBlkCnt head areas of 4096 bytes, in block order */
    uint8_t pendingHead[16];   /* bytes of the next frame head already read */
    uint32_t frmHeadWrSize;    /* how many of them: 0, 1..15 (split head) or 16 */
    uint64_t curOffset;        /* file offset of the next unread byte */
    uint32_t curB;             /* index of the current block */
    uint32_t curBlkOff;        /* block offset of the next unread byte (counts the head area) */
} StRecBakFileOp_t;

/* 0 opened; -1 a ".rpo" path, unreadable, too small (< 4113 bytes) or no valid block. */
RKSTORE_API int RKSFS_OpenBakRecFile(StRecBakFileOp_t* op, const char* filePath);
/* Encode record (and audio property when not null) of the current block: 0, or -1. */
RKSTORE_API int RKSFS_GetBakRecFileEncode(StRecBakFileOp_t* op, StRecEncode_t* encode, StAudioProp_t* audioProp);
/* Reads the next frame: its head into *head, its payload into buffer (at
 * least maxFrameSize + 16 bytes). Returns the payload length; 0 at the end of
 * the file; -1 on error. */
RKSTORE_API int RKSFS_ReadBakRecFrame(StRecBakFileOp_t* op, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head);
/* Positions on the I frame at or before second tm: 0, or -1 (position kept). */
RKSTORE_API int RKSFS_SeekBakRecTime(StRecBakFileOp_t* op, uint32_t tm);
/* Closes and zeroes the structure; 0. Closing twice is harmless. */
RKSTORE_API int RKSFS_CloseBakRecFile(StRecBakFileOp_t* op);

/* Resolution code <-> picture size. direction non-zero: *reso to *width and
 * *height (by *videoStandard); direction 0: *width x *height to *reso (and
 * *videoStandard, see the manual). 0, or -1 for an unknown code or size. */
RKSTORE_API int RKSFS_ConvResolution(uint32_t* reso, uint32_t* width, uint32_t* height, uint32_t* videoStandard,
                                     uint8_t direction);

/* ---- Block-bunch record files ------------------------------------------------ */

/* One record file inside one container file. */
typedef struct StBlkBunchRecFile_t {
    char filePath[256];     /* the container file */
    uint16_t fileNo;        /* the NNNNN of its name */
    uint32_t blkSize;       /* 4 MiB or 8 MiB */
    uint32_t dataBlkCnt;    /* blocks of this record file inside the container file */
    StRecFileInfo_t recFI;  /* uuid = its first block id in this container file */
} StBlkBunchRecFile_t;

typedef struct StBlkBunchRecFileOp_t {
    void* stream;
    StBlkBunchRecFile_t blkBunchFI;
    uint32_t maxFrameSize;
    const uint8_t* heads;      /* blkBunchFI.dataBlkCnt head areas, in chain order */
    const uint8_t* positions;  /* block positions 0..31 inside the container file, one per block */
    uint8_t pendingHead[16];
    uint32_t frmHeadWrSize;
    uint64_t curOffset;        /* counts the record file as if stored as a backup record file */
    uint32_t curB;
    uint32_t curBlkOff;
} StBlkBunchRecFileOp_t;

/* Lists the record files of container file `filePath` into entries.
 * Returns their number; capacity + 1 when more exist than fit; 0 when none;
 * -1 on error. */
RKSTORE_API int RKSFS_GeBlkBunchRecFile(const char* filePath, StBlkBunchRecFile_t* entries, size_t capacity);
RKSTORE_API int RKSFS_OpenBlkBunchRecFile(StBlkBunchRecFileOp_t* op, const StBlkBunchRecFile_t* entry);
RKSTORE_API int RKSFS_GetBlkBunchRecFileEncode(StBlkBunchRecFileOp_t* op, StRecEncode_t* encode,
                                               StAudioProp_t* audioProp);
RKSTORE_API int RKSFS_ReadBlkBuncRecFrame(StBlkBunchRecFileOp_t* op, uint8_t* buffer, size_t bufLen,
                                          RKSFS_FRAME_HEAD* head);
RKSTORE_API int RKSFS_SeekBlkBuncRecTime(StBlkBunchRecFileOp_t* op, uint32_t tm);
RKSTORE_API int RKSFS_CloseBlkBunchRecFile(StBlkBunchRecFileOp_t* op);

/* ---- Diagnostics ----------------------------------------------------------------- */

/* Prints the 32 bytes of a data block head in hexadecimal and its fields. */
RKSTORE_API void RKSFS_PrintDataBlockHead(const void* head);

#ifdef __cplusplus
}
#endif

#endif /* RKSTORE_H */
