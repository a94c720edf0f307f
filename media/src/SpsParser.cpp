#include "media/src/SpsParser.h"

#include <algorithm>

namespace rkmedia {

uint32_t CBitReader::ReadBits(int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        uint32_t bit = 0;
        if (m_bitPos < m_size * 8) {
            bit = (m_pData[m_bitPos >> 3] >> (7 - (m_bitPos & 7))) & 1u;
            ++m_bitPos;
        } else {
            m_bOverrun = true;
        }
        value = (value << 1) | bit;
    }
    return value;
}

void CBitReader::SkipBits(size_t count)
{
    if (count > BitsLeft()) {
        m_bOverrun = true;
        m_bitPos = m_size * 8;
        return;
    }
    m_bitPos += count;
}

uint32_t CBitReader::ReadUE()
{
    int zeros = 0;
    while (!ReadFlag()) {
        // Past the end every bit reads as zero; stop there rather than count on.
        if (m_bOverrun || ++zeros > 31) {
            m_bOverrun = true;
            return 0;
        }
    }
    const uint64_t value = (uint64_t(1) << zeros) - 1 + ReadBits(zeros);
    return uint32_t(value);
}

int32_t CBitReader::ReadSE()
{
    const uint64_t k = ReadUE();
    const int64_t value = (k & 1) ? int64_t((k + 1) / 2) : -int64_t(k / 2);
    return int32_t(value);
}

std::vector<uint8_t> NalPayloadToRbsp(const uint8_t* payload, size_t size)
{
    std::vector<uint8_t> rbsp;
    rbsp.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = payload[i];
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;
            continue;
        }
        rbsp.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return rbsp;
}

namespace {

constexpr size_t kNotFound = size_t(-1);
// The first start code of a key frame sits at its very front; looking further
// would only find one inside garbage.
constexpr size_t kFirstStartCodeWindow = 64;
// AUD, SEI and similar units may come before the H.264 parameter sets; a key
// frame with more than this many of them is not something a recorder writes.
constexpr int kMaxH264UnitsBeforeSps = 16;
constexpr size_t kMinH265SpsSize = 20;
constexpr uint32_t kMaxSize = 0xFFFF;  // sizes travel as 16-bit values

// Offset of the first byte after the next 0x00 0x00 0x01 whose three bytes all
// lie in [from, end), or kNotFound.
size_t FindStartCode(const uint8_t* data, size_t from, size_t end)
{
    for (size_t i = from; i + 3 <= end; ++i) {
        if (data[i + 2] > 1) {
            i += 2;  // none of the three bytes can start a start code here
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
    }
    return kNotFound;
}

// End of the NAL unit starting at `from`: the next 0x00 0x00 0x00 or
// 0x00 0x00 0x01, neither of which can occur inside a unit, or `end`.
size_t NalEnd(const uint8_t* data, size_t from, size_t end)
{
    for (size_t i = from; i + 3 <= end; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] <= 1) return i;
    return end;
}

bool IsH264HighProfile(uint32_t profileIdc)
{
    switch (profileIdc) {
        case 100: case 110: case 122: case 244: case 44: case 83:
        case 86: case 118: case 128: case 138: case 139: case 134: case 135:
            return true;
        default:
            return false;
    }
}

// Only the walk matters here: the list's values are not needed, but every
// delta has to be consumed to reach the fields behind the lists.
bool SkipScalingList(CBitReader& bits, int size)
{
    int lastScale = 8, nextScale = 8;
    for (int j = 0; j < size; ++j) {
        if (nextScale != 0) {
            const int32_t delta = bits.ReadSE();
            if (bits.Overrun() || delta < -128 || delta > 127) return false;
            nextScale = (lastScale + delta + 256) % 256;
        }
        // nextScale 0 at j == 0 selects the default list; later it repeats
        // the last value to the end. Either way nothing more is coded.
        if (nextScale != 0) lastScale = nextScale;
    }
    return true;
}

// Subtracts a crop of (a + b) * unit from size; false when the crop leaves no
// picture, which no encoder writes.
bool ApplyCrop(uint32_t& size, uint32_t a, uint32_t b, uint32_t unit)
{
    const uint64_t crop = (uint64_t(a) + b) * unit;
    if (crop >= size) return false;
    size -= uint32_t(crop);
    return true;
}

}  // namespace

std::optional<CSpsInfo> ParseH264Sps(const uint8_t* nal, size_t size)
{
    if (size < 2 || (nal[0] & 0x80) || (nal[0] & 0x1F) != 7) return std::nullopt;
    const std::vector<uint8_t> rbsp = NalPayloadToRbsp(nal + 1, size - 1);
    CBitReader bits(rbsp.data(), rbsp.size());
    CSpsInfo sps;

    sps.profileIdc = bits.ReadBits(8);
    bits.SkipBits(8);  // constraint flags and reserved bits
    bits.SkipBits(8);  // level
    if (bits.ReadUE() > 31) return std::nullopt;  // seq_parameter_set_id
    if (IsH264HighProfile(sps.profileIdc)) {
        sps.chromaFormatIdc = bits.ReadUE();
        if (sps.chromaFormatIdc > 3) return std::nullopt;
        if (sps.chromaFormatIdc == 3) sps.separateColourPlanes = bits.ReadFlag();
        const uint32_t lumaMinus8 = bits.ReadUE();
        const uint32_t chromaMinus8 = bits.ReadUE();
        if (lumaMinus8 > 6 || chromaMinus8 > 6) return std::nullopt;
        sps.bitDepthLuma = 8 + lumaMinus8;
        sps.bitDepthChroma = 8 + chromaMinus8;
        bits.SkipBits(1);  // qpprime_y_zero_transform_bypass_flag
        sps.scalingMatrixPresent = bits.ReadFlag();
        if (sps.scalingMatrixPresent) {
            const int lists = sps.chromaFormatIdc == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i)
                if (bits.ReadFlag() && !SkipScalingList(bits, i < 6 ? 16 : 64)) return std::nullopt;
        }
    }
    if (bits.ReadUE() > 12) return std::nullopt;  // log2_max_frame_num_minus4
    sps.pocType = bits.ReadUE();
    if (sps.pocType == 0) {
        if (bits.ReadUE() > 12) return std::nullopt;  // log2_max_pic_order_cnt_lsb_minus4
    } else if (sps.pocType == 1) {
        bits.SkipBits(1);  // delta_pic_order_always_zero_flag
        bits.ReadSE();     // offset_for_non_ref_pic
        bits.ReadSE();     // offset_for_top_to_bottom_field
        const uint32_t cycle = bits.ReadUE();
        if (cycle > 255) return std::nullopt;
        for (uint32_t i = 0; i < cycle && !bits.Overrun(); ++i) bits.ReadSE();  // offset_for_ref_frame
    } else if (sps.pocType != 2) {
        return std::nullopt;
    }
    bits.ReadUE();     // max_num_ref_frames
    bits.SkipBits(1);  // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthInMbs = uint64_t(bits.ReadUE()) + 1;
    const uint64_t heightInMapUnits = uint64_t(bits.ReadUE()) + 1;
    sps.frameMbsOnly = bits.ReadFlag();
    if (!sps.frameMbsOnly) bits.SkipBits(1);  // mb_adaptive_frame_field_flag
    bits.SkipBits(1);                          // direct_8x8_inference_flag
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (bits.ReadFlag()) {
        cropLeft = bits.ReadUE();
        cropRight = bits.ReadUE();
        cropTop = bits.ReadUE();
        cropBottom = bits.ReadUE();
    }
    if (bits.Overrun()) return std::nullopt;

    const uint32_t fieldFactor = sps.frameMbsOnly ? 1 : 2;
    const uint64_t codedWidth = widthInMbs * 16;
    const uint64_t codedHeight = heightInMapUnits * 16 * fieldFactor;
    if (codedWidth > kMaxSize || codedHeight > kMaxSize) return std::nullopt;
    sps.codedWidth = sps.width = uint32_t(codedWidth);
    sps.codedHeight = sps.height = uint32_t(codedHeight);

    const uint32_t chromaArrayType = sps.separateColourPlanes ? 0 : sps.chromaFormatIdc;
    const uint32_t cropUnitX = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
    const uint32_t cropUnitY = (chromaArrayType == 1 ? 2 : 1) * fieldFactor;
    if (!ApplyCrop(sps.width, cropLeft, cropRight, cropUnitX) ||
        !ApplyCrop(sps.height, cropTop, cropBottom, cropUnitY))
        return std::nullopt;
    return sps;
}

std::optional<CSpsInfo> ParseH265Sps(const uint8_t* nal, size_t size)
{
    if (size < 3 || (nal[0] & 0x80) || ((nal[0] >> 1) & 0x3F) != 33) return std::nullopt;
    const std::vector<uint8_t> rbsp = NalPayloadToRbsp(nal + 2, size - 2);
    CBitReader bits(rbsp.data(), rbsp.size());
    CSpsInfo sps;

    bits.SkipBits(4);  // sps_video_parameter_set_id
    const uint32_t maxSubLayersMinus1 = bits.ReadBits(3);
    if (maxSubLayersMinus1 > 6) return std::nullopt;
    sps.maxSubLayers = maxSubLayersMinus1 + 1;
    bits.SkipBits(1);  // sps_temporal_id_nesting_flag

    // profile_tier_level(1, maxSubLayersMinus1)
    bits.SkipBits(2 + 1);  // general_profile_space, general_tier_flag
    sps.profileIdc = bits.ReadBits(5);
    bits.SkipBits(32 + 4 + 44);  // compatibility flags, source flags, reserved bits
    bits.SkipBits(8);            // general_level_idc
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = bits.ReadFlag();
        levelPresent[i] = bits.ReadFlag();
    }
    if (maxSubLayersMinus1 > 0) bits.SkipBits(2 * (8 - maxSubLayersMinus1));  // reserved_zero_2bits
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i]) bits.SkipBits(2 + 1 + 5 + 32 + 4 + 44);
        if (levelPresent[i]) bits.SkipBits(8);
    }

    if (bits.ReadUE() > 15) return std::nullopt;  // sps_seq_parameter_set_id
    sps.chromaFormatIdc = bits.ReadUE();
    if (sps.chromaFormatIdc > 3) return std::nullopt;
    if (sps.chromaFormatIdc == 3) sps.separateColourPlanes = bits.ReadFlag();
    sps.codedWidth = sps.width = bits.ReadUE();
    sps.codedHeight = sps.height = bits.ReadUE();
    uint32_t winLeft = 0, winRight = 0, winTop = 0, winBottom = 0;
    if (bits.ReadFlag()) {
        winLeft = bits.ReadUE();
        winRight = bits.ReadUE();
        winTop = bits.ReadUE();
        winBottom = bits.ReadUE();
    }
    const uint32_t lumaMinus8 = bits.ReadUE();
    const uint32_t chromaMinus8 = bits.ReadUE();
    if (bits.Overrun()) return std::nullopt;
    // The engine's picture path has one sample depth for all planes; a set
    // with two depths gives no size, so no decoder is built for it.
    if (lumaMinus8 > 8 || chromaMinus8 != lumaMinus8) return std::nullopt;
    sps.bitDepthLuma = sps.bitDepthChroma = 8 + lumaMinus8;

    if (sps.codedWidth == 0 || sps.codedHeight == 0 || sps.codedWidth > kMaxSize || sps.codedHeight > kMaxSize)
        return std::nullopt;
    // With separate colour planes every plane is full size, as in 4:4:4.
    const uint32_t subWidth = sps.chromaFormatIdc == 1 || sps.chromaFormatIdc == 2 ? 2 : 1;
    const uint32_t subHeight = sps.chromaFormatIdc == 1 ? 2 : 1;
    if (!ApplyCrop(sps.width, winLeft, winRight, subWidth) || !ApplyCrop(sps.height, winTop, winBottom, subHeight))
        return std::nullopt;
    return sps;
}

namespace {

std::optional<CSpsInfo> FindH264Sps(const uint8_t* data, size_t length)
{
    size_t pos = FindStartCode(data, 0, std::min(length, kFirstStartCodeWindow));
    for (int unit = 0; unit < kMaxH264UnitsBeforeSps && pos != kNotFound && pos < length; ++unit) {
        const uint8_t header = data[pos];
        if (header & 0x80) return std::nullopt;  // forbidden bit: not a NAL unit at all
        const int type = header & 0x1F;
        const size_t end = NalEnd(data, pos, length);
        if (type == 7) return ParseH264Sps(data + pos, end - pos);
        // A coded slice before any parameter set: this unit carries none.
        if (type >= 1 && type <= 5) return std::nullopt;
        pos = FindStartCode(data, end, length);
    }
    return std::nullopt;
}

std::optional<CSpsInfo> FindH265Sps(const uint8_t* data, size_t length)
{
    for (size_t pos = FindStartCode(data, 0, length); pos != kNotFound; pos = FindStartCode(data, pos, length)) {
        if (pos + 2 > length) break;
        const uint8_t b0 = data[pos], b1 = data[pos + 1];
        const bool headerOk = !(b0 & 0x80) && !(b0 & 0x01) && (b1 & 0x07) != 0;
        if (!headerOk || ((b0 >> 1) & 0x3F) != 33) continue;
        const size_t end = NalEnd(data, pos, length);
        if (end - pos < kMinH265SpsSize) continue;
        return ParseH265Sps(data + pos, end - pos);
    }
    return std::nullopt;
}

}  // namespace

std::optional<CSpsInfo> FindSps(int videoType, const uint8_t* data, size_t length)
{
    if (!data || length == 0) return std::nullopt;
    return videoType != 0 ? FindH265Sps(data, length) : FindH264Sps(data, length);
}

bool RKPLAY_GetResolutionBySPS(int videoType, const uint8_t* data, size_t length, uint16_t& width,
                               uint16_t& height)
{
    const bool hevc = videoType != 0;
    const std::optional<CSpsInfo> sps = FindSps(videoType, data, length);
    if (!sps) return false;
    uint32_t h = sps->height;
    // A 1072-line H.264 set is sized as 1080 lines, as the player has always done.
    if (!hevc && h == 1072) h = 1080;
    width = uint16_t(sps->width);
    height = uint16_t(h);
    return true;
}

}  // namespace rkmedia
