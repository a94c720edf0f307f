#include "media/src/audio/LowPassFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rkmedia {

CLowPassFilter::CLowPassFilter() { MakeCoefficients(); }

float CLowPassFilter::ValidCutoff(float cutoff)
{
    // Written so that NaN fails the test too.
    return cutoff > 0.0f && cutoff <= 1.0f ? cutoff : kDefaultCutoff;
}

void CLowPassFilter::Set(bool enable, float cutoff)
{
    cutoff = ValidCutoff(cutoff);
    const bool switchedOn = enable && !m_bEnable;
    const bool newCutoff = cutoff != m_fCutoff;
    m_bEnable = enable;
    m_fCutoff = cutoff;
    if (newCutoff) MakeCoefficients();
    if (switchedOn || newCutoff) Reset();
}

void CLowPassFilter::Reset() { m_x1 = m_x2 = m_y1 = m_y2 = 0.0; }

void CLowPassFilter::MakeCoefficients()
{
    m_bPassAll = m_fCutoff >= 1.0f;
    if (m_bPassAll) return;
    // The bilinear transform of the analogue Butterworth section, pre-warped
    // so that the cut-off lands where it was asked for (-3 dB there).
    const double w0 = std::numbers::pi * double(m_fCutoff);
    const double c = std::cos(w0);
    const double alpha = std::sin(w0) / std::numbers::sqrt2;  // sin w0 / 2Q, Q = 1/sqrt(2)
    const double a0 = 1.0 + alpha;
    m_b0 = (1.0 - c) / 2.0 / a0;
    m_b1 = (1.0 - c) / a0;
    m_b2 = m_b0;
    m_a1 = -2.0 * c / a0;
    m_a2 = (1.0 - alpha) / a0;
}

void CLowPassFilter::Process(int16_t* pcm, size_t n)
{
    if (!m_bEnable || m_bPassAll || !pcm) return;
    for (size_t i = 0; i < n; ++i) {
        const double x = pcm[i];
        const double y = m_b0 * x + m_b1 * m_x1 + m_b2 * m_x2 - m_a1 * m_y1 - m_a2 * m_y2;
        m_x2 = m_x1;
        m_x1 = x;
        m_y2 = m_y1;
        m_y1 = y;
        // A full-scale edge overshoots by a few per cent; the history keeps
        // the true value and only the sample played is limited.
        pcm[i] = int16_t(std::clamp(std::round(y), -32768.0, 32767.0));
    }
}

}  // namespace rkmedia
