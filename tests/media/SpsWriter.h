// Sequence parameter sets written from field values, for the cases no
// encoder produces on request: broken ranges, rare picture order count types,
// sub-layer profile fields, odd sizes. Written the way the syntax tables read,
// so a test states only the fields it is about.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmor::fixtures {

class CBitWriter {
public:
    void Bits(uint64_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) m_bits.push_back(((value >> i) & 1) != 0);
    }
    void Flag(bool value) { m_bits.push_back(value); }
    void UE(uint64_t value)
    {
        const uint64_t v = value + 1;
        int length = 0;
        while ((v >> length) > 1) ++length;
        Bits(0, length);
        Bits(v, length + 1);
    }
    void SE(int64_t value) { UE(value > 0 ? uint64_t(2 * value - 1) : uint64_t(-2 * value)); }

    // The RBSP: the bits, the stop bit, zero bits to the byte end.
    std::vector<uint8_t> Rbsp() const
    {
        std::vector<bool> bits = m_bits;
        bits.push_back(true);
        while (bits.size() % 8) bits.push_back(false);
        std::vector<uint8_t> out(bits.size() / 8, 0);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i]) out[i / 8] |= uint8_t(0x80 >> (i % 8));
        return out;
    }

private:
    std::vector<bool> m_bits;
};

// RBSP to NAL payload: an emulation prevention byte wherever two zero bytes
// are followed by a byte that a start code or escape could begin with.
inline std::vector<uint8_t> Escape(const std::vector<uint8_t>& rbsp)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

inline bool HasEmulationPrevention(const std::vector<uint8_t>& nal)
{
    for (size_t i = 0; i + 2 < nal.size(); ++i)
        if (nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] == 3) return true;
    return false;
}

inline std::vector<uint8_t> StartCode() { return {0, 0, 0, 1}; }

inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Crop {
    uint32_t left = 0, right = 0, top = 0, bottom = 0;
};

// A scaling list as its values in scan order. Empty: the default list,
// signalled by the single delta that makes the next scale 0 at once.
using ScalingList = std::vector<int>;

struct H264SpsFields {
    uint32_t profileIdc = 66;
    uint32_t levelIdc = 40;
    uint64_t spsId = 0;
    // High profiles only
    uint64_t chromaFormatIdc = 1;
    bool separateColourPlanes = false;
    uint64_t bitDepthLumaMinus8 = 0, bitDepthChromaMinus8 = 0;
    bool qpprimeBypass = false;
    std::optional<std::vector<std::optional<ScalingList>>> scalingLists;  // per list; nullopt = not sent
    uint64_t log2MaxFrameNumMinus4 = 0;
    uint64_t pocType = 2;
    uint64_t log2MaxPocLsbMinus4 = 2;
    bool deltaPicOrderAlwaysZero = false;
    int64_t offsetForNonRefPic = 0, offsetForTopToBottomField = 0;
    std::vector<int64_t> offsetsForRefFrame;
    uint64_t maxNumRefFrames = 1;
    bool gaps = false;
    uint64_t widthInMbsMinus1 = 0, heightInMapUnitsMinus1 = 0;
    bool frameMbsOnly = true;
    bool mbAdaptive = false;
    bool direct8x8 = true;
    std::optional<Crop> crop;
    bool vui = false;
};

inline void WriteScalingList(CBitWriter& w, const ScalingList& values)
{
    // The delta is taken modulo 256 by the reader, so the shortest signed
    // form of each step is written.
    auto delta = [](int from, int to) { return int64_t(((to - from) % 256 + 256 + 128) % 256 - 128); };
    if (values.empty()) {
        w.SE(delta(8, 0));
        return;
    }
    size_t run = values.size();
    while (run > 1 && values[run - 1] == values[run - 2]) --run;
    int last = 8;
    for (size_t j = 0; j < run; ++j) {
        w.SE(delta(last, values[j]));
        last = values[j];
    }
    if (run < values.size()) w.SE(delta(last, 0));  // the last value holds to the end
}

inline std::vector<uint8_t> H264SpsNal(const H264SpsFields& f)
{
    CBitWriter w;
    w.Bits(f.profileIdc, 8);
    w.Bits(0, 8);
    w.Bits(f.levelIdc, 8);
    w.UE(f.spsId);
    const bool high = f.profileIdc == 100 || f.profileIdc == 110 || f.profileIdc == 122 || f.profileIdc == 244;
    if (high) {
        w.UE(f.chromaFormatIdc);
        if (f.chromaFormatIdc == 3) w.Flag(f.separateColourPlanes);
        w.UE(f.bitDepthLumaMinus8);
        w.UE(f.bitDepthChromaMinus8);
        w.Flag(f.qpprimeBypass);
        w.Flag(f.scalingLists.has_value());
        if (f.scalingLists)
            for (const auto& list : *f.scalingLists) {
                w.Flag(list.has_value());
                if (list) WriteScalingList(w, *list);
            }
    }
    w.UE(f.log2MaxFrameNumMinus4);
    w.UE(f.pocType);
    if (f.pocType == 0) {
        w.UE(f.log2MaxPocLsbMinus4);
    } else if (f.pocType == 1) {
        w.Flag(f.deltaPicOrderAlwaysZero);
        w.SE(f.offsetForNonRefPic);
        w.SE(f.offsetForTopToBottomField);
        w.UE(f.offsetsForRefFrame.size());
        for (int64_t o : f.offsetsForRefFrame) w.SE(o);
    }
    w.UE(f.maxNumRefFrames);
    w.Flag(f.gaps);
    w.UE(f.widthInMbsMinus1);
    w.UE(f.heightInMapUnitsMinus1);
    w.Flag(f.frameMbsOnly);
    if (!f.frameMbsOnly) w.Flag(f.mbAdaptive);
    w.Flag(f.direct8x8);
    w.Flag(f.crop.has_value());
    if (f.crop) {
        w.UE(f.crop->left);
        w.UE(f.crop->right);
        w.UE(f.crop->top);
        w.UE(f.crop->bottom);
    }
    w.Flag(f.vui);
    return Cat({{0x67}, Escape(w.Rbsp())});
}

struct H265SpsFields {
    uint32_t vpsId = 0;
    uint32_t maxSubLayersMinus1 = 0;
    bool temporalIdNesting = true;
    uint32_t profileIdc = 1;
    uint32_t compatibility = 0;  // profile compatibility flags; 0: the own profile's only
    uint32_t levelIdc = 93;
    std::array<bool, 8> subLayerProfilePresent{};
    std::array<bool, 8> subLayerLevelPresent{};
    uint64_t spsId = 0;
    uint64_t chromaFormatIdc = 1;
    bool separateColourPlanes = false;
    uint64_t width = 64, height = 48;
    std::optional<Crop> window;
    uint64_t bitDepthLumaMinus8 = 0, bitDepthChromaMinus8 = 0;
    bool rest = true;  // write the fields behind the bit depths
    // NAL unit header
    uint8_t header0 = 0x42, header1 = 0x01;
};

inline void WriteProfile(CBitWriter& w, uint32_t profileIdc, uint32_t compatibility)
{
    w.Bits(0, 2);   // profile space
    w.Flag(false);  // tier
    w.Bits(profileIdc, 5);
    w.Bits(compatibility ? compatibility : uint32_t(1) << (31 - profileIdc), 32);
    w.Bits(0b1001, 4);  // progressive, frame only
    w.Bits(0, 44);
}

inline std::vector<uint8_t> H265SpsNal(const H265SpsFields& f)
{
    CBitWriter w;
    w.Bits(f.vpsId, 4);
    w.Bits(f.maxSubLayersMinus1, 3);
    w.Flag(f.temporalIdNesting);
    WriteProfile(w, f.profileIdc, f.compatibility);
    w.Bits(f.levelIdc, 8);
    const uint32_t subLayers = f.maxSubLayersMinus1 < 8 ? f.maxSubLayersMinus1 : 7;
    for (uint32_t i = 0; i < subLayers; ++i) {
        w.Flag(f.subLayerProfilePresent[i]);
        w.Flag(f.subLayerLevelPresent[i]);
    }
    if (subLayers > 0)
        for (uint32_t i = subLayers; i < 8; ++i) w.Bits(0, 2);
    for (uint32_t i = 0; i < subLayers; ++i) {
        if (f.subLayerProfilePresent[i]) WriteProfile(w, f.profileIdc, f.compatibility);
        if (f.subLayerLevelPresent[i]) w.Bits(f.levelIdc - 3 * i, 8);
    }
    w.UE(f.spsId);
    w.UE(f.chromaFormatIdc);
    if (f.chromaFormatIdc == 3) w.Flag(f.separateColourPlanes);
    w.UE(f.width);
    w.UE(f.height);
    w.Flag(f.window.has_value());
    if (f.window) {
        w.UE(f.window->left);
        w.UE(f.window->right);
        w.UE(f.window->top);
        w.UE(f.window->bottom);
    }
    w.UE(f.bitDepthLumaMinus8);
    w.UE(f.bitDepthChromaMinus8);
    if (!f.rest) return Cat({{f.header0, f.header1}, Escape(w.Rbsp())});
    // The rest of a real set (picture order count size, sub-layer ordering,
    // block sizes) in a typical form, so that the unit has its usual length.
    w.UE(4);
    w.Flag(true);
    for (uint32_t i = 0; i <= subLayers; ++i) {
        w.UE(4);
        w.UE(0);
        w.UE(0);
    }
    w.UE(0);
    w.UE(3);
    w.UE(0);
    w.UE(3);
    w.UE(3);
    w.UE(3);
    return Cat({{f.header0, f.header1}, Escape(w.Rbsp())});
}

}  // namespace velmor::fixtures
