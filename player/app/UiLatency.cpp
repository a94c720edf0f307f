#include "player/app/UiLatency.h"

#include <algorithm>

namespace velmor {

void CTickLateness::Tick(int64_t nowUs)
{
    if (m_started) m_worstUs = std::max(m_worstUs, nowUs - m_lastUs - m_periodUs);
    m_started = true;
    m_lastUs = nowUs;
}

int64_t CTickLateness::TakeWorst()
{
    const int64_t worst = m_worstUs;
    m_worstUs = 0;
    return worst;
}

}  // namespace velmor
