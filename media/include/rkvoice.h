/*
 * The recorder voice codec of the media engine (VOICE_ functions).
 *
 * A voice frame is a 4-byte little-endian header followed by its payload:
 *   bytes 0-1  frame flags; bits 8-9 are 01 for a voice data frame (0x0100)
 *   byte  2    payload length in 16-bit words (L)
 *   byte  3    0
 *   then 2 x L payload bytes.
 *
 * Codec states are caller-owned memory of at least VOICE_STATE_SIZE bytes (no
 * alignment needed); the first 16-bit field is the mode. A state is valid
 * after a reset and carries its predictor from frame to frame.
 *
 * Every function returns 0 on success or one of the 32-bit codes below
 * (0xA122xxxx, negative as int32_t). Nothing is raised.
 */
#ifndef RKVOICE_H
#define RKVOICE_H

#include <stdint.h>

#ifndef RKMEDIA_API
#if defined(_WIN32)
#define RKMEDIA_API __declspec(dllexport)
#else
#define RKMEDIA_API __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Modes (16-bit). */
#define VOICE_MODE_G711A 1          /* two codes per word, first sample in the low byte */
#define VOICE_MODE_G711U 2
#define VOICE_MODE_G711A_HIGH 65    /* first sample in the high byte of each word */
#define VOICE_MODE_G711U_HIGH 66
#define VOICE_MODE_DVI4 3           /* header: predicted value, step index, spare; first sample in the high nibble */
#define VOICE_MODE_IMA 35           /* header: first sample, step index, spare; first sample in the low nibble */
#define VOICE_MODE_DVI4_RAW 67      /* no header; the state carries over from the previous frame */
#define VOICE_MODE_G726_16 4        /* code words packed least-significant bit first */
#define VOICE_MODE_G726_24 5
#define VOICE_MODE_G726_32 6
#define VOICE_MODE_G726_40 7
#define VOICE_MODE_G726_16_MSB 36   /* code words packed most-significant bit first */
#define VOICE_MODE_G726_24_MSB 37
#define VOICE_MODE_G726_32_MSB 38
#define VOICE_MODE_G726_40_MSB 39
#define VOICE_MODE_G726_16_ALT 68   /* 16 kbit/s, 2 bits per sample, least-significant bit first */

/* Transcoding modes: 96 + n decodes mode 64 + n and encodes mode n (n = 1..4). */
#define VOICE_TRANSCODE_G711A 97
#define VOICE_TRANSCODE_G711U 98
#define VOICE_TRANSCODE_DVI4 99
#define VOICE_TRANSCODE_G726_16 100

/* Sizes. */
#define VOICE_STATE_SIZE 1024           /* one encoder or decoder state */
#define VOICE_TRANSCODE_STATE_SIZE 3072 /* encoder state at 0, decoder state at byte 2048 */
#define VOICE_TRANSCODE_DECODER_OFFSET 2048
#define VOICE_FRAME_HEADER_SIZE 4
#define VOICE_MAX_FRAME_BYTES 514       /* header + 255 words: the most any frame can claim */
#define VOICE_MAX_FRAME_SAMPLES 488     /* the most samples one frame decodes to (mode 67, 122 words) */
#define VOICE_MAX_ENCODE_SAMPLES 481
#define VOICE_VERSION_SIZE 32           /* the version text with its terminating zero */

/* Result codes. */
#define VOICE_OK 0
#define VOICE_ERR_NULL_STATE ((int32_t)0xA1220101u)
#define VOICE_ERR_NULL_INPUT ((int32_t)0xA1220102u)
#define VOICE_ERR_NULL_OUTPUT ((int32_t)0xA1220103u)
#define VOICE_ERR_ENC_MODE ((int32_t)0xA1220001u)
#define VOICE_ERR_ENC_SAMPLES ((int32_t)0xA1220002u)
#define VOICE_ERR_DEC_MODE ((int32_t)0xA1220011u)
#define VOICE_ERR_DEC_LENGTH ((int32_t)0xA1220012u)
#define VOICE_ERR_DEC_FLAGS ((int32_t)0xA1220013u)
#define VOICE_ERR_TRANS_STATE ((int32_t)0xA1221001u)
#define VOICE_ERR_TRANS_MODE ((int32_t)0xA1221002u)

/* Copies "VOICE_VERSION=VOICELIB_V1.0.0.0" and its terminating zero
 * (VOICE_VERSION_SIZE bytes). -1 for a null buffer, else 0. */
RKMEDIA_API int32_t VOICE_GetVersion(char* text);

/* Sets the mode and resets the state for encoding or decoding. An
 * unsupported mode is stored anyway and reported (VOICE_ERR_ENC_MODE /
 * VOICE_ERR_DEC_MODE); the next frame then fails with the same code. */
RKMEDIA_API int32_t VOICE_EncReset(void* state, uint16_t mode);
RKMEDIA_API int32_t VOICE_DecReset(void* state, uint16_t mode);

/* Encodes `samples` (1 to 481) 16-bit samples into one frame with its
 * header (at most VOICE_MAX_FRAME_BYTES bytes). A frame holds whole code
 * words only: samples beyond what the mode's payload holds are not encoded
 * (G.711: an even count; modes 3 and 67: a multiple of 4; mode 35: 4k + 1;
 * G.726: a multiple of 16 / bits per sample). */
RKMEDIA_API int32_t VOICE_EncodeFrame(void* state, const int16_t* pcm, uint8_t* frame, uint16_t samples);

/* Decodes one frame into at most VOICE_MAX_FRAME_SAMPLES samples. The frame
 * must hold the 4 + 2 x L bytes its header claims; it is not altered. On
 * error *samples is 0 and nothing is written to pcm. */
RKMEDIA_API int32_t VOICE_DecodeFrame(void* state, const uint8_t* frame, int16_t* pcm, uint16_t* samples);

/* Sets up a transcoder (VOICE_TRANSCODE_STATE_SIZE bytes) for mode 97..100. */
RKMEDIA_API int32_t VOICE_TransCodeReset(void* state, uint16_t mode);

/* Rewrites a frame of the second family (modes 65..68) in place as its
 * counterpart of the first (1..4). A DVI4 frame gains its 4-byte state
 * header, so the buffer must have room for 4 bytes more than the frame
 * (VOICE_MAX_FRAME_BYTES is always enough). On error the frame is left as
 * it was. */
RKMEDIA_API int32_t VOICE_TransCodeFrame(void* state, uint8_t* frame);

#ifdef __cplusplus
}
#endif

#endif /* RKVOICE_H */
