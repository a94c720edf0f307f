#include "player/workspace/ScriptQueue.h"

namespace velmor {

void CScriptQueue::Reset()
{
    std::lock_guard lock(m_mutex);
    m_state = EState::kLoading;
    m_waiting.clear();
}

void CScriptQueue::SetLoaded(bool ok)
{
    std::lock_guard lock(m_mutex);
    m_state = ok ? EState::kLoaded : EState::kFailed;
    if (!ok) m_waiting.clear();
}

bool CScriptQueue::Loaded() const
{
    std::lock_guard lock(m_mutex);
    return m_state == EState::kLoaded;
}

bool CScriptQueue::Push(std::string script)
{
    std::lock_guard lock(m_mutex);
    if (m_state == EState::kFailed || m_waiting.size() >= kMaxWaiting) return false;
    m_waiting.push_back(std::move(script));
    return true;
}

std::vector<std::string> CScriptQueue::TakeReady()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    if (m_state != EState::kLoaded) return out;
    out.reserve(m_waiting.size());
    for (auto& s : m_waiting) {
        m_run.push_back(s);
        if (m_run.size() > kKeepRun) m_run.pop_front();
        out.push_back(std::move(s));
    }
    m_waiting.clear();
    return out;
}

size_t CScriptQueue::Waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_waiting.size();
}

std::vector<std::string> CScriptQueue::Run() const
{
    std::lock_guard lock(m_mutex);
    return {m_run.begin(), m_run.end()};
}

}  // namespace velmor
