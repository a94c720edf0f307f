#include "media/src/video/HwDecodePath.h"

#include <strings.h>

namespace rkmedia {

const char* HwModeName(HardwareMode mode)
{
    switch (mode) {
    case kHwVaapi:
        return "vaapi";
    case kHwCuda:
        return "cuda";
    case kHwNone:
        break;
    }
    return "none";
}

HwPlan PlanHwDecode(const char* setting)
{
    // VA-API first: it serves the integrated graphics most machines have;
    // a machine with an NVIDIA card and no VA driver goes on to CUDA.
    if (!setting || !*setting) return HwPlan{{kHwVaapi, kHwCuda}, {}};
    if (strcasecmp(setting, "none") == 0) return HwPlan{};
    for (HardwareMode mode : {kHwVaapi, kHwCuda})
        if (strcasecmp(setting, HwModeName(mode)) == 0) return HwPlan{{mode}, {}};
    return HwPlan{{}, "VELMOR_HWDEC=\"" + std::string(setting) + "\" names no decoding path (vaapi, cuda or none)"};
}

void CHwDecodePath::Reset(const char* setting, bool hardware)
{
    HwPlan plan = hardware ? PlanHwDecode(setting) : HwPlan{};
    m_order = std::move(plan.order);
    m_failures = std::move(plan.reason);
    m_next = 0;
    m_mode = kHwNone;
    m_proven = false;
    m_reason.clear();
}

void CHwDecodePath::Failed(HardwareMode mode, const std::string& why)
{
    if (!m_failures.empty()) m_failures += "; ";
    m_failures += std::string(HwModeName(mode)) + ": " + why;
}

std::string CHwDecodePath::Open(const Attempt& attempt)
{
    while (m_next < m_order.size()) {
        const HardwareMode mode = m_order[m_next++];
        const std::string why = attempt(mode);
        if (why.empty()) {
            m_mode = mode;
            m_proven = false;
            m_reason.clear();
            return {};
        }
        Failed(mode, why);
    }
    m_mode = kHwNone;
    m_reason = m_failures;
    return attempt(kHwNone);
}

std::string CHwDecodePath::GiveUp(const std::string& why, const Attempt& attempt)
{
    if (m_mode != kHwNone) Failed(m_mode, why);
    return Open(attempt);
}

}  // namespace rkmedia
