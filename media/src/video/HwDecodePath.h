// Which decoding path a player takes: the hardware device types to try, in
// order, and software decoding once every one of them has failed. A type is
// given up whatever stage it fails at: its device cannot be created, the
// decoder does not open with it, or its first picture does not reach system
// memory (then the units it was given are decoded again on the next path, so
// that no picture is lost). Knows nothing of FFmpeg: the player brings up
// each path, and tests bring up imagined ones.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rkmedia {

enum HardwareMode { kHwNone = 0, kHwVaapi = 1, kHwCuda = 2 };

// "vaapi", "cuda" or "none": FFmpeg's name of the device type.
const char* HwModeName(HardwareMode mode);

// The device types to try for a value of VELMOR_HWDEC (null when it is not
// set): both in order by default, only the one it names, none for "none"
// (any case). A value that names no path gives none, with the reason why.
struct HwPlan {
    std::vector<HardwareMode> order;
    std::string reason;  // "" unless the value named no path
};
HwPlan PlanHwDecode(const char* setting);

class CHwDecodePath {
public:
    // Brings up one path: creates the device of a hardware type and opens the
    // decoder with it, or opens the decoder in software for kHwNone. "" when
    // the decoder is open on it, else why not.
    using Attempt = std::function<std::string(HardwareMode)>;

    // Starts over with the types of a plan (no hardware when `hardware` is
    // false: a path chosen on purpose, with no reason to report).
    void Reset(const char* setting, bool hardware);
    // Opens the first type of the plan not yet given up that works, software
    // when none does. "" when a path is open, else why software failed too.
    std::string Open(const Attempt& attempt);
    // The open hardware path delivered no usable first picture: it is given
    // up and the next one opened as Open does. The caller then decodes again
    // what the given-up path was given.
    std::string GiveUp(const std::string& why, const Attempt& attempt);

    HardwareMode Mode() const { return m_mode; }
    // A hardware path whose first picture has not yet reached system memory.
    bool OnTrial() const { return m_mode != kHwNone && !m_proven; }
    void Proven() { m_proven = true; }
    // Why decoding is in software: every type tried and what failed, or the
    // setting that named no path. "" on a hardware path and when software
    // was chosen on purpose.
    const std::string& Reason() const { return m_reason; }

private:
    void Failed(HardwareMode mode, const std::string& why);

    std::vector<HardwareMode> m_order;
    size_t m_next = 0;  // the next type of m_order to try
    HardwareMode m_mode = kHwNone;
    bool m_proven = false;
    std::string m_failures;  // "type: why" of each type given up, "; " between
    std::string m_reason;
};

}  // namespace rkmedia
