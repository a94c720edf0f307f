// A player's low-pass filter on its decoded voice: one second-order
// Butterworth section (Q = 1/sqrt(2)) on 16-bit mono PCM. Each player holds
// its own, so that two play windows never mix their histories.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rkmedia {

class CLowPassFilter {
public:
    static constexpr float kDefaultCutoff = 0.8f;

    // Off, at the default cut-off.
    CLowPassFilter();

    // The cut-off is a fraction of half the sample rate: at 8000 samples per
    // second 0.8 is 3200 Hz, 0.5 is 2000 Hz. Anything outside (0, 1], a
    // value that is not a number included, stands for the default.
    static float ValidCutoff(float cutoff);

    // Switches the filter and sets its cut-off (taken through ValidCutoff).
    // Switching it on, or a new cut-off, starts from silence: history from
    // other settings would ring through the first samples. The same
    // settings again keep the history, so repeating them is inaudible.
    void Set(bool enable, float cutoff);
    // Forgets the history (a new stream).
    void Reset();

    bool Enabled() const { return m_bEnable; }
    float Cutoff() const { return m_fCutoff; }

    // Filters n samples in place; switched off, the samples are not touched.
    // Results beyond the 16-bit range are held at the limit, never wrapped.
    void Process(int16_t* pcm, size_t n);

private:
    void MakeCoefficients();

    bool m_bEnable = false;
    float m_fCutoff = kDefaultCutoff;
    // At a cut-off of the whole band the filter is the identity: the design
    // would put a double pole on the unit circle at half the sample rate
    // (cancelled by a double zero only in exact arithmetic), so it is not run.
    bool m_bPassAll = false;
    double m_b0 = 0, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    double m_x1 = 0, m_x2 = 0;  // input, one and two samples back
    double m_y1 = 0, m_y2 = 0;  // output before rounding and limiting
};

}  // namespace rkmedia
