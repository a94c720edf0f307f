/*
 * rkindex: search in the index files that some recorders keep on the disk
 * root, a main index and its backup ("index00.bin" and "index01.bin", or the
 * two names written in "file.bin").
 *
 * Given a list of disk folders and a search filter, the search reads each
 * folder's index and hands out one 65-byte search result record per
 * recording segment that matches, sorted by begin time. The caller asks for
 * the count first, sizes a buffer from it and fetches the records.
 *
 * Both index files are only read, never written: when the main index is
 * damaged and its backup is sound, the backup is searched. Diagnostics go to
 * the log callback. No C++ exception crosses this interface, and the library
 * keeps no state between calls other than the callback and last errors.
 */
#ifndef RKINDEX_H
#define RKINDEX_H

#include <stdint.h>

#include "common/include/rkcommon.h"

#if defined(_WIN32)
#define RKINDEX_API __declspec(dllexport)
#else
#define RKINDEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of one search result record in the caller's buffer. The layout
 * (little-endian, no padding):
 *   0 u8 record flags (recording type bits; bit 7 the class bit)
 *   1 u8, 2 u8  record bytes 1 and 2, copied through
 *   3 u32 length: end offset - begin offset      7 u32 begin offset
 *  11 u8 0                                       12 u8 position of the folder in the list (0-based)
 *  13 u16 record area number                     15..39 zero
 *  40 u8 0 (source kind: index disk)             41 u8 channel, counted from 1
 *  42 u32 begin time                             46 u32 end time
 *  50 11 bytes: the record's label               61..64 zero
 * C++ code reads it through velmor::StSearchRecord_t ("index/format/SearchRecord.h"). */
#define RKFILE_SEARCH_RECORD_SIZE 65

/* Most folders one call takes (their position is one byte of the record). */
#define RKFILE_MAX_FOLDERS 256

/* The search filter, filled by the caller. */
typedef struct RKFILE_SEARCH_FILTER {
    uint16_t chnMask;     /* bit n selects channel n + 1 */
    uint8_t typeMask;     /* 0x10: every type; else a record is taken when its type bits share a bit with
                             the low 4 bits; 0 takes nothing */
    uint32_t startTime;   /* seconds since 1970 on the recorder's clock */
    uint32_t endTime;
    uint8_t reserved[5];  /* not read */
    uint8_t classFilter;  /* version-1 indexes: 0 only records with the class bit, 1 only records without it,
                             any other value all */
    uint32_t indexVersion; /* out: the version of the last index read whose entry count is not 0 */
} RKFILE_SEARCH_FILTER;

/* Number of records matching `filter` over the first `folderCount` folders
 * of `folders` (narrow paths). A folder whose index pair cannot be opened or
 * verified contributes nothing.
 * Returns the count; -1 when folders or filter is null, or folderCount is
 * negative or above RKFILE_MAX_FOLDERS. */
RKINDEX_API int RKFile_SearchGetFileCount(const char* const* folders, int folderCount, RKFILE_SEARCH_FILTER* filter);

/* Writes the matching records, folder after folder, into `records` (room for
 * `capacity` records of RKFILE_SEARCH_RECORD_SIZE bytes, zeroed by the
 * caller) and sorts them by begin time, ascending; records with equal begin
 * times keep the order in which they were found.
 * Returns the number of records written; -1 when a match does not fit (the
 * full buffer is then left sorted) or for the argument errors of
 * RKFile_SearchGetFileCount, or a null buffer with a capacity above 0. */
RKINDEX_API int RKFile_SeacrhFile(const char* const* folders, int folderCount, RKFILE_SEARCH_FILTER* filter,
                                  void* records, int capacity);

/* Failures and diagnostics (common/include/rkcommon.h). */
RKINDEX_API void RKFile_SetLogCallback(RK_LOG_CALLBACK callback, void* user);
RKINDEX_API const char* RKFile_GetLastErrorText(void);

#ifdef __cplusplus
}
#endif

#endif /* RKINDEX_H */
