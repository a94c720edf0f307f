/*
 * What the libraries' public headers share: the 16-byte frame head the
 * record libraries hand out, and the log callback with its levels.
 *
 * Every failing call of a library returns its result code; the reason is
 * also kept as the calling thread's last error text (the library's
 * ..._GetLastErrorText: "" when none, meaningful after a call failed, valid
 * until the thread's next call into the library) and handed, like every
 * other line the library logs, to the library's log callback. No library
 * writes to standard output or standard error.
 */
#ifndef RKCOMMON_H
#define RKCOMMON_H

#include <stdint.h>

/* The head in front of every frame. */
typedef struct RK_FRAME_HEAD {
    uint8_t sign;      /* 'F' */
    uint8_t channel;   /* 0..15 */
    uint8_t subStream; /* 0 main stream, 1 sub stream */
    uint8_t type;      /* 1 I frame, 2 and 3 other video, 4 audio, 5 attached information */
    uint32_t length;   /* payload bytes */
    uint64_t pts;      /* microseconds since 1970 on the recorder's clock */
} RK_FRAME_HEAD;

/* Levels of a logged line. */
#define RK_LOG_FAILURE 0 /* why a call failed: also the last error text */
#define RK_LOG_INFO 1    /* what a call reports besides failures */
#define RK_LOG_DEBUG 2   /* step-by-step diagnostics */

/* A line is handed over unchanged, with its line feed where it has one;
 * calls are serialised. A library's ..._SetLogCallback installs one (null
 * removes it). */
typedef void (*RK_LOG_CALLBACK)(int level, const char* line, void* user);

#endif /* RKCOMMON_H */
