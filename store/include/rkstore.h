/*
 * rkstore: the recorder's container block-bunch file system.
 *
 * Without a mount:
 * - backup record files: one recording exported from the recorder as a
 *   plain file (also named ".rkrec");
 * - block-bunch record files: the recordings whose blocks lie in one
 *   container file ("fcNNNNN.rpo"), listed and read without a mount;
 * - resolution codes and a diagnostic print of a block head.
 * On a mounted partition (RKSFS_Init, then RKSFS_Mount2):
 * - space and covering queries; record file search with reason and
 *   read-only segments; record files opened by descriptor and read by kind,
 *   by I frame in both directions, positioned by time;
 * - common ("plain") files: listing, reading, positioning, removal;
 * - the writing interface, which checks its arguments and refuses: this
 *   library never writes.
 *
 * Files and devices are only ever opened for reading; mounting, searching,
 * cutting broken chains and removing common files change only the head set
 * held in memory. Every function returns as stated for it; a failure logs
 * one line ("function:line ...") through the log callback. No C++ exception
 * crosses this interface. An operation structure is used by one thread at a
 * time; several may be open at once. The mounted-partition functions may be
 * called from any thread.
 *
 * Platform notes (Linux): a "partition" is a block device ("/dev/sdb1"), an
 * image file of a whole partition, or "/proc/self/fd/N" for a descriptor the
 * caller holds open for reading (as the desktop's disk service hands one to
 * a user who may not open the device node; it is duplicated, never opened
 * anew, and one open for writing is refused); files and devices are opened
 * with O_NOATIME where permitted; a mount directory is the folder that
 * holds the container files (at most RKSFS_MNT_DIR_MAX - 1 characters, not
 * ending in '/').
 */
#ifndef RKSTORE_H
#define RKSTORE_H

#include <stddef.h>
#include <stdint.h>

#include "common/include/rkcommon.h"

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
    int32_t uuid;        /* record file id: on a mount, mount slot << 24 | first block id;
                            for a block bunch its first block id */
    char dirTail2[3];    /* last two characters of the mount directory; empty without a mount */
    uint8_t channel;     /* 0..15 */
    uint8_t subStream;   /* 0 main, 1 sub stream */
    uint8_t readOnly;    /* any block protected from covering */
    uint32_t reasonBit;  /* OR of the blocks' 24-bit record reasons */
    uint64_t size;       /* bytes as stored in a backup record file */
    uint32_t beginTime;  /* seconds since 1970 on the recorder's clock */
    uint32_t endTime;    /* last second covered */
    uint8_t writing;     /* any block still being written */
    uint8_t continued;   /* the recording goes on before this file (first block's lend),
                            or, found on a mount, after it (last block's borrow) */
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
typedef RK_FRAME_HEAD RKSFS_FRAME_HEAD;

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

/* ---- Mount, space and covering ------------------------------------------------------ */

#define RKSFS_MNT_DIR_MAX 256   /* a mount directory has at most 255 characters */
#define RKSFS_MAX_MOUNTS 4
#define RKSFS_MAX_OPEN_FILES 64
#define RKSFS_MAX_CHANNELS 16

/* Once, before mounting: the number of recording channels (1..16). 0 or -1.
 * Calling it again closes every file and unmounts every partition. */
RKSTORE_API int RKSFS_Init(uint32_t recChnCnt);
/* Mounts the container files in pMntDir, read-only. pPart is the block
 * device or image file of the partition, whose sector size and length give
 * the geometry. pPart NULL or "": the device mounted at pMntDir
 * (/proc/self/mountinfo) when there is a readable one, else the geometry of
 * the newest valid index block head (a folder copied off a disk), else the
 * container files present. coverable is kept for the oldest-end-time query;
 * nothing is ever written. 0 or -1. */
RKSTORE_API int RKSFS_Mount2(const char* pPart, const char* pMntDir, uint8_t coverable);
/* Closes every file of the mount and forgets it. 0 or -1. */
RKSTORE_API int RKSFS_Umount2(const char* pMntDir, uint8_t forceCloseFile);
RKSTORE_API uint8_t RKSFS_IsMounted2(const char* pMntDir);
RKSTORE_API uint8_t RKSFS_IsCovering(const char* pMntDir);
RKSTORE_API uint64_t RKSFS_GetTotalSpace(const char* pMntDir);
RKSTORE_API uint64_t RKSFS_GetFreeSpace(const char* pMntDir);
/* End second of the block covering would take next; 0 while there is free
 * room; 0xFFFFFFFF when nothing can be covered. */
RKSTORE_API uint32_t RKSFS_GetOldestEndTime(const char* pMntDir);
/* Formatting is not offered: both check their argument and return -1. */
RKSTORE_API int RKSFS_Format(const char* pDev);
RKSTORE_API int RKSFS_FormatPartition(const char* pPart);

/* One index block head as the mount keeps it. */
typedef struct StIndexHeadInfo_t {
    uint16_t version;
    uint16_t sectorSize;
    uint32_t startPos;
    uint32_t blkSize;
    uint32_t blkCnt;
    uint32_t selfBlkId;
    uint32_t useId;
    int32_t updateNo;
    uint32_t updateTm;
    uint32_t lastApplyBlkId;
    uint32_t dataBlkCover;
    uint32_t firstDataBlkId;
    uint32_t rebuildIdxTm;
    uint8_t mounted;
} StIndexHeadInfo_t;

/* What a mount found (an addition of this platform, for tools). */
typedef struct StMountInfo_t {
    char mntDir[RKSFS_MNT_DIR_MAX];
    char device[RKSFS_MNT_DIR_MAX];  /* where the geometry came from; "" = index head or files */
    uint16_t sectorSize;
    uint32_t blkSize;
    uint32_t blkCnt;
    uint32_t containerFileSize;
    uint16_t fileContCnt;
    uint32_t badFileCnt;
    uint32_t latestCnt;              /* index block heads used, newest first */
    StIndexHeadInfo_t latestIBH[2];
    uint8_t rebuilt;                 /* the head set was rebuilt from every block */
    uint32_t firstDataBlkId;
    uint32_t lastApplyBlkId;
    uint8_t writtenAfterFormat;
    uint8_t coverable;
    uint32_t recFileFronts;          /* first blocks of record files found at mount */
    uint32_t cmFileFronts;           /* first blocks of common files */
} StMountInfo_t;
RKSTORE_API int RKSFS_GetMountInfo(const char* pMntDir, StMountInfo_t* pInfo);

/* ---- Record writing: arguments checked, nothing written ---------------- */

RKSTORE_API int RKSFS_CreateRecFile(const char* pMntDir, uint8_t channel, uint8_t subStream, uint32_t reasonBit,
                                    const StRecEncode_t* pEnc, const StAudioProp_t* pAProp);
RKSTORE_API int RKSFS_CreatePreRecFile(const char* pMntDir, uint8_t channel, uint8_t subStream,
                                       const StRecEncode_t* pEnc, const StAudioProp_t* pAProp);
RKSTORE_API int RKSFS_ConvPreRecFile(int fd, uint32_t reasonBit);
/* Bytes taken, 0 for a dropped frame, or negative: -9 a negative
 * descriptor, -10001 no such descriptor, -10002 closed meanwhile, -77 the
 * file is in error, -10003 not open for writing. */
RKSTORE_API int RKSFS_WriteFrame(int fd, const uint8_t* pPayload, const RKSFS_FRAME_HEAD* pHead);
RKSTORE_API int RKSFS_SetAudioEnc(int fd, uint32_t aEnc, const StAudioProp_t* pAProp);
RKSTORE_API int RKSFS_UpdateReason(int fd, uint32_t reasonBit);

/* ---- Record reading and seeking --------------------------------------------------- */

/* A descriptor (>= 0) for a record file found by a search, or -1. */
RKSTORE_API int RKSFS_OpenRecFile(const StRecFileInfo_t* pRec);
/* Payload length; 0 at the end; -1 on error (the descriptor then fails every
 * call but close); -9 for a negative descriptor. The buffer must hold
 * length + 16 bytes of the frame returned. */
RKSTORE_API int RKSFS_ReadFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head);
RKSTORE_API int RKSFS_ReadVideoFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head);
RKSTORE_API int RKSFS_ReadAudioFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head);
/* I frames only; backward non-zero: the I frame before the one returned
 * last (right after a seek: the I frame the seek found), 0 before the first. */
RKSTORE_API int RKSFS_ReadIFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head, uint8_t backward);
/* pBehind NULL: positions on the I frame at or before second tm and returns
 * the record-file offset of its head. pBehind not NULL (behind mode): returns
 * the record-file offset just behind second tm and leaves the position as it
 * was; nothing is written through pBehind. Negative on failure. */
RKSTORE_API int64_t RKSFS_SeekTime(int fd, uint32_t tm, int* pBehind);
RKSTORE_API int64_t RKSFS_SeekRelTime(int fd, uint32_t relTm, int* pBehind);
RKSTORE_API int RKSFS_GetRecFileEncode(int fd, StRecEncode_t* encode, StAudioProp_t* audioProp);
RKSTORE_API int RKSFS_GetRecFileInfo(int fd, StRecFileInfo_t* pRec);
/* 0; -10001 no such descriptor; -10002 closed meanwhile; -10003 a slot
 * without a valid mode (freed anyway); -9 a negative descriptor. */
RKSTORE_API int RKSFS_CloseFile(int fd);

/* ---- Record search and read-only protection ----------------------------------------- */

typedef struct StRecSearchCond_t {
    uint32_t chnBit;     /* bit n: channel n (from 0) */
    uint32_t subStream;  /* 0 main, 1 sub, 0xFFFFFFFF either */
    uint32_t readOnly;   /* 0, 1, 0xFFFFFFFF either */
    uint32_t reasonBit;  /* a file matches when its reason shares a bit */
    uint32_t beginTime;  /* a file matches when its span overlaps [beginTime, endTime] */
    uint32_t endTime;
} StRecSearchCond_t;

#pragma pack(push, 1)
typedef struct StRecRsnSeg_t {
    uint32_t reasonBitNo;  /* 0..23 */
    uint32_t beginTime;
    uint32_t endTime;
    int32_t uuid;
    uint8_t readOnly;
} StRecRsnSeg_t;
#pragma pack(pop)

typedef struct StRecRoSeg_t {
    uint32_t beginTime;
    uint32_t endTime;
    int32_t uuid;
    uint32_t reasonBit;
} StRecRoSeg_t;

/* Appends the matching record files after the `hold` entries already in
 * pRec (capacity `count`); when full, later files replace the earliest.
 * Returns the number of entries now held, or -1. */
RKSTORE_API int RKSFS_SearchLatestRecFile(const char* pMntDir, const StRecSearchCond_t* pCond, StRecFileInfo_t* pRec,
                                          size_t count, size_t hold);
RKSTORE_API int RKSFS_SearchLatestRecFileEx(const char* pMntDir, const StRecSearchCond_t* pCond,
                                            StRecFileInfo_t* pRec, size_t count, size_t hold,
                                            StRecRsnSeg_t* pRsnSeg, size_t rsnCount, size_t* pRsnHold,
                                            StRecRoSeg_t* pRoSeg, size_t roCount, size_t* pRoHold);
RKSTORE_API int RKSFS_SearchRecFile(const char* pMntDir, const StRecSearchCond_t* pCond);
RKSTORE_API int RKSFS_BuildRecFileInfo(StRecFileInfo_t* pRec, int32_t uuid, const char* pDirTail2);
RKSTORE_API int RKSFS_SetRecBlockRO(uint8_t channel, uint8_t subStream, uint32_t beginTime, uint32_t endTime);
RKSTORE_API int RKSFS_CancelRecBlockRO(uint8_t channel, uint8_t subStream);
RKSTORE_API int RKSFS_SetROValidTime(uint64_t seconds);
RKSTORE_API void RKSFS_SetPreRecordTime(uint32_t seconds);
RKSTORE_API int RKSFS_SetRecFileRO(const StRecFileInfo_t* pRec, uint8_t readOnly);
RKSTORE_API int RKSFS_SetRecRsnSegRO(const StRecRsnSeg_t* pSeg, const StRecFileInfo_t* pRec, uint8_t readOnly);
RKSTORE_API int RKSFS_SetRecRoSegRO(const StRecRoSeg_t* pSeg, const StRecFileInfo_t* pRec, uint8_t readOnly);

/* ---- Common files and diagnostics -------------------------------------------------- */

typedef struct StCmFileInfo_t {
    int32_t uuid;                  /* mount slot << 24 | first block id */
    char dir[RKSFS_MNT_DIR_MAX];   /* the mount directory */
    char fileName[64];             /* the full name */
    uint64_t size;                 /* bytes of its blocks, head areas included (useSize) */
    uint64_t dataSize;             /* bytes of the file's contents */
    uint32_t blkCnt;               /* blocks of the file */
    uint8_t writing;
} StCmFileInfo_t;

#define RKSFS_O_WRONLY 1
#define RKSFS_O_RDWR 2
#define RKSFS_O_TRUNC 0x200
/* RKSFS_Open's answer to RKSFS_O_WRONLY or RKSFS_O_RDWR (with or without
 * RKSFS_O_TRUNC): the library reads recorder media and never writes them. */
#define RKSFS_ERR_READONLY (-30)

/* Lists the common files whose names match pHint ("*", "abc*", "*xyz" or a
 * whole name). Returns the number found (more than `count` when the array
 * was too small: then `count` are written), or -1. */
RKSTORE_API int RKSFS_GetFileInfo(const char* pMntDir, const char* pHint, StCmFileInfo_t* pCmFI, size_t count);
RKSTORE_API int RKSFS_Open(const StCmFileInfo_t* pCmFI, int flags);
/* Bytes read; 0 for a count of 0 or at the end; negative on error. */
RKSTORE_API int64_t RKSFS_Read(int fd, void* buffer, size_t nbyte);
/* Positions count the file's contents from 0. whence 0, 1, 2 as lseek. For
 * a record file descriptor RKSFS_Ftell64 gives curOffset (as in a backup
 * record file) and RKSFS_Feof its end. */
RKSTORE_API int64_t RKSFS_Lseek64(int fd, int64_t offset, int whence);
RKSTORE_API int64_t RKSFS_Ftell64(int fd);
RKSTORE_API int RKSFS_Feof(int fd);
/* Frees the file's blocks in the mount's head set (in memory only). */
RKSTORE_API int RKSFS_RemoveFile(const StCmFileInfo_t* pCmFI);
RKSTORE_API int RKSFS_RemoveAllFile(const char* pMntDir, const char* pHint);
RKSTORE_API int RKSFS_Create(const char* pMntDir, const char* pFileName, uint8_t cover, uint8_t readwrite);
/* Always refused: -10003 for an open descriptor (each is open for reading
 * only), the descriptor codes otherwise. Nothing is ever taken. */
RKSTORE_API int64_t RKSFS_Write(int fd, const void* buffer, size_t nbyte);
RKSTORE_API int RKSFS_Fsync(int fd);
/* Bytes the blocks of a file of `size` content bytes occupy (whole blocks,
 * head areas included; the block size of the first mount, else 4 MiB). */
RKSTORE_API uint64_t RKSFS_CalcFileSize(uint64_t size);

/* Prints the 32 bytes of a data block head in hexadecimal and its fields. */
RKSTORE_API void RKSFS_PrintDataBlockHead(const void* head);
RKSTORE_API void RKSFS_DumpDataBlockHead(const char* pMntDir, uint32_t blkId);
RKSTORE_API void RKSFS_DumpIndexBlockHead(const char* pMntDir, size_t idxId);
RKSTORE_API void RKSFS_HexDump64(const char* pMntDir, uint64_t first, uint64_t second, size_t size);
RKSTORE_API void RKSFS_ExamineMemory(const void* buffer, size_t count);

/* Failures and diagnostics (common/include/rkcommon.h). */
RKSTORE_API void RKSFS_SetLogCallback(RK_LOG_CALLBACK callback, void* user);
RKSTORE_API const char* RKSFS_GetLastErrorText(void);

#ifdef __cplusplus
}
#endif

#endif /* RKSTORE_H */
