// How long the interface thread kept a periodic tick waiting: a tick due
// every period that comes later than that was held up by whatever ran on
// the thread in between (a click's work, a window set stopping).
#pragma once

#include <cstdint>

namespace velmor {

class CTickLateness {
public:
    explicit CTickLateness(int64_t periodUs) : m_periodUs(periodUs) {}

    // A tick came at `nowUs` (any steady clock).
    void Tick(int64_t nowUs);
    // The worst lateness since the last TakeWorst, in microseconds.
    int64_t Worst() const { return m_worstUs; }
    // Returns the worst and starts over; the tick in progress still counts
    // from the last one, so a hold-up that spans the call is not lost.
    int64_t TakeWorst();

private:
    int64_t m_periodUs;
    int64_t m_lastUs = 0;
    bool m_started = false;
    int64_t m_worstUs = 0;
};

}  // namespace velmor
