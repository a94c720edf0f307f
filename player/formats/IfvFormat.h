// The IFV record file as it lies on disk: the four leading objects, the
// segment header and the three kinds of index entry. The reader, the writer
// and the tests use these definitions; no other place describes these bytes.
//
// All structures are made of little-endian byte fields (velmor::LeField) and
// byte arrays only, so they have alignment 1 and no padding: copy file bytes
// into them with memcpy and read fields with get(). Every offset stored in a
// file counts from the image's base offset B.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/ByteOrder.h"

namespace ifv {

using velmor::le16;
using velmor::le32;
using velmor::le64;

inline constexpr uint8_t kFilePropertiesGuid[16] = {0x11, 0xd2, 0xd3, 0xab, 0xba, 0xa9, 0xcf, 0x11,
                                                    0x8e, 0xe6, 0x00, 0xc0, 0x0c, 0x20, 0x53, 0x65};
inline constexpr uint8_t kVideoStreamGuid[16] = {0x41, 0x52, 0xd1, 0x86, 0x1d, 0x31, 0xd0, 0x11,
                                                 0xa3, 0xa4, 0x00, 0xa0, 0xc9, 0x03, 0x48, 0xf6};
inline constexpr uint8_t kAudioStreamGuid[16] = {0xe3, 0xcb, 0x1a, 0x4b, 0x0b, 0x10, 0xd0, 0x11,
                                                 0xa3, 0x9b, 0x00, 0xa0, 0xc9, 0x03, 0x48, 0xf6};
inline constexpr uint8_t kMediaDataGuid[16] = {0x20, 0xdb, 0xfe, 0x4c, 0xf6, 0x75, 0xcf, 0x11,
                                               0x9c, 0x0f, 0x00, 0xa0, 0xc9, 0x03, 0x49, 0xcb};
inline constexpr uint8_t kSegmentGuid[16] = {0x74, 0xd4, 0x06, 0x18, 0xdf, 0xca, 0x09, 0x45,
                                             0xa4, 0xba, 0x9a, 0xab, 0xcb, 0x96, 0xaa, 0xe8};

inline constexpr char kDescription[] = "This is DVR record file ver 2";

// ---- Layout -----------------------------------------------------------------

constexpr uint32_t kFilePropertiesOffset = 0;
constexpr uint32_t kVideoStreamOffset = 68;
constexpr uint32_t kAudioStreamOffset = 124;
constexpr uint32_t kMediaDataOffset = 172;
constexpr uint32_t kFirstSegmentOffset = 200;

constexpr uint32_t kVideoIndexCapacity = 3000;
constexpr uint32_t kAudioIndexCapacity = 4000;
constexpr uint32_t kAttachIndexCapacity = 150;
constexpr uint32_t kAttachPayloadMax = 120;

// Frame data lies below 256 MiB from B.
constexpr uint32_t kMaxIndexOffset = 0x10000000;
constexpr uint32_t kMaxDataPosition = 0x0FFFFFFF;

// What a reader's caller must give as frame buffer.
constexpr uint32_t kFrameBufferSize = 2457600;

constexpr uint8_t kMediaVideo = 0;
constexpr uint8_t kMediaAudio = 1;
constexpr uint8_t kMediaAttach = 2;

constexpr bool IsKeyFrameType(uint8_t type) { return type == 3 || type == 5; }

// Four-character codes are stored as their characters in order; as a
// little-endian u32 the first character is the low byte.
constexpr uint32_t FourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// Audio codec code for the encoding index the writer is given; anything
// outside 0..12 is "GRAW".
inline uint32_t AudioCodecForIndex(int index)
{
    static constexpr uint32_t kCodes[13] = {
        FourCC("GRAW"), FourCC("ADPA"), FourCC("ADPB"), FourCC("G726"), FourCC("726B"), FourCC("726C"), FourCC("726D"),
        FourCC("726H"), FourCC("726I"), FourCC("726J"), FourCC("726K"), FourCC("711A"), FourCC("711U")};
    return index >= 0 && index < 13 ? kCodes[index] : kCodes[0];
}

// ---- Objects ----------------------------------------------------------------

struct StFilePropertiesObject_t {
    uint8_t guid[16];
    le32 size;
    char description[31];
    uint8_t attachFlag;
    le32 beginTime;
    le32 endTime;
    le32 fileLength;
    le16 reserved;
    le16 eventChannel;
};

struct StVideoStreamPropertiesObject_t {
    uint8_t guid[16];
    le32 size;
    le32 timeScale;
    le16 width;
    le16 height;
    le32 frameRateBits;  // IEEE single precision
    le32 bufferSize;     // 0x80000
    le32 codec;
    le32 horizontalDpi;  // 72
    le32 verticalDpi;    // 72
    le32 bitsPerPixel;   // 24
    le32 reserved;

    float frameRate() const { return std::bit_cast<float>(frameRateBits.get()); }
    void setFrameRate(float rate) { frameRateBits.set(std::bit_cast<uint32_t>(rate)); }
};

struct StAudioStreamPropertiesObject_t {
    uint8_t guid[16];
    le32 size;
    le32 timeScale;
    le16 channels;
    le16 sampleWidth;
    le32 sampleRate;
    le32 codec;
    le32 bytesPerFrame;
    le32 frameDurationMs;
    le32 reserved;
};

struct StMediaDataObject_t {
    uint8_t guid[16];
    le32 size;
    le32 segmentCount;
    le32 reserved;
};

struct StMdatSegmentHeader_t {
    uint8_t guid[16];
    le32 size;  // header, index areas and data
    le32 firstTimestamp;
    le32 lastTimestamp;
    le32 videoFrames;
    le32 audioFrames;
    le32 videoCapacity;
    le32 audioCapacity;
    le32 attachCount;
};

struct StVideoIndexEntry_t {
    le32 offset;
    le32 length;
    le64 pts;
    le32 timestamp;
    uint8_t bkey;
    uint8_t zero[7];
};

struct StAudioIndexEntry_t {
    le32 offset;
    le32 length;
    uint8_t zero1[8];
    le32 timestamp;
    uint8_t zero2[4];
};

struct StAttachIndexEntry_t {
    le32 length;
    le32 timestamp;
    uint8_t payload[kAttachPayloadMax];
};

static_assert(sizeof(StFilePropertiesObject_t) == 68);
static_assert(offsetof(StFilePropertiesObject_t, size) == 16 && offsetof(StFilePropertiesObject_t, description) == 20);
static_assert(offsetof(StFilePropertiesObject_t, attachFlag) == 51 && offsetof(StFilePropertiesObject_t, beginTime) == 52);
static_assert(offsetof(StFilePropertiesObject_t, endTime) == 56 && offsetof(StFilePropertiesObject_t, fileLength) == 60);
static_assert(offsetof(StFilePropertiesObject_t, reserved) == 64 && offsetof(StFilePropertiesObject_t, eventChannel) == 66);

static_assert(sizeof(StVideoStreamPropertiesObject_t) == 56);
static_assert(offsetof(StVideoStreamPropertiesObject_t, timeScale) == 20);
static_assert(offsetof(StVideoStreamPropertiesObject_t, width) == 24 && offsetof(StVideoStreamPropertiesObject_t, height) == 26);
static_assert(offsetof(StVideoStreamPropertiesObject_t, frameRateBits) == 28);
static_assert(offsetof(StVideoStreamPropertiesObject_t, bufferSize) == 32 && offsetof(StVideoStreamPropertiesObject_t, codec) == 36);
static_assert(offsetof(StVideoStreamPropertiesObject_t, horizontalDpi) == 40);
static_assert(offsetof(StVideoStreamPropertiesObject_t, bitsPerPixel) == 48);
static_assert(offsetof(StVideoStreamPropertiesObject_t, reserved) == 52);

static_assert(sizeof(StAudioStreamPropertiesObject_t) == 48);
static_assert(offsetof(StAudioStreamPropertiesObject_t, timeScale) == 20 && offsetof(StAudioStreamPropertiesObject_t, channels) == 24);
static_assert(offsetof(StAudioStreamPropertiesObject_t, sampleWidth) == 26 && offsetof(StAudioStreamPropertiesObject_t, sampleRate) == 28);
static_assert(offsetof(StAudioStreamPropertiesObject_t, codec) == 32 && offsetof(StAudioStreamPropertiesObject_t, bytesPerFrame) == 36);
static_assert(offsetof(StAudioStreamPropertiesObject_t, frameDurationMs) == 40 && offsetof(StAudioStreamPropertiesObject_t, reserved) == 44);

static_assert(sizeof(StMediaDataObject_t) == 28);
static_assert(offsetof(StMediaDataObject_t, segmentCount) == 20 && offsetof(StMediaDataObject_t, reserved) == 24);

static_assert(sizeof(StMdatSegmentHeader_t) == 48);
static_assert(offsetof(StMdatSegmentHeader_t, size) == 16 && offsetof(StMdatSegmentHeader_t, firstTimestamp) == 20);
static_assert(offsetof(StMdatSegmentHeader_t, lastTimestamp) == 24 && offsetof(StMdatSegmentHeader_t, videoFrames) == 28);
static_assert(offsetof(StMdatSegmentHeader_t, audioFrames) == 32 && offsetof(StMdatSegmentHeader_t, videoCapacity) == 36);
static_assert(offsetof(StMdatSegmentHeader_t, audioCapacity) == 40 && offsetof(StMdatSegmentHeader_t, attachCount) == 44);

static_assert(sizeof(StVideoIndexEntry_t) == 28);
static_assert(offsetof(StVideoIndexEntry_t, length) == 4 && offsetof(StVideoIndexEntry_t, pts) == 8);
static_assert(offsetof(StVideoIndexEntry_t, timestamp) == 16 && offsetof(StVideoIndexEntry_t, bkey) == 20);

static_assert(sizeof(StAudioIndexEntry_t) == 24);
static_assert(offsetof(StAudioIndexEntry_t, length) == 4 && offsetof(StAudioIndexEntry_t, timestamp) == 16);

static_assert(sizeof(StAttachIndexEntry_t) == 128);
static_assert(offsetof(StAttachIndexEntry_t, timestamp) == 4 && offsetof(StAttachIndexEntry_t, payload) == 8);

static_assert(kVideoStreamOffset == kFilePropertiesOffset + sizeof(StFilePropertiesObject_t));
static_assert(kAudioStreamOffset == kVideoStreamOffset + sizeof(StVideoStreamPropertiesObject_t));
static_assert(kMediaDataOffset == kAudioStreamOffset + sizeof(StAudioStreamPropertiesObject_t));
static_assert(kFirstSegmentOffset == kMediaDataOffset + sizeof(StMediaDataObject_t));

// Where the areas of a segment begin, counted from the segment's start.
constexpr uint64_t VideoIndexAreaOffset() { return sizeof(StMdatSegmentHeader_t); }
constexpr uint64_t AudioIndexAreaOffset(uint32_t videoCapacity)
{
    return VideoIndexAreaOffset() + uint64_t(sizeof(StVideoIndexEntry_t)) * videoCapacity;
}
constexpr uint64_t AttachIndexAreaOffset(uint32_t videoCapacity, uint32_t audioCapacity)
{
    return AudioIndexAreaOffset(videoCapacity) + uint64_t(sizeof(StAudioIndexEntry_t)) * audioCapacity;
}
constexpr uint64_t DataAreaOffset(uint32_t videoCapacity, uint32_t audioCapacity, uint32_t attachCapacity)
{
    return AttachIndexAreaOffset(videoCapacity, audioCapacity) + uint64_t(sizeof(StAttachIndexEntry_t)) * attachCapacity;
}

template <typename T>
T LoadObject(const void* bytes)
{
    T value;
    std::memcpy(static_cast<void*>(&value), bytes, sizeof(T));
    return value;
}
template <typename T>
T ZeroObject()
{
    T value;
    std::memset(static_cast<void*>(&value), 0, sizeof(T));
    return value;
}

}  // namespace ifv
