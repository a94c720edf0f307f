// Progress and cancel of one search, shared by the record search and the
// download-folder search: percent never goes down, and a set cancel flag
// ends the search at its next folder, file or record with nothing listed.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>

namespace velmor {

class CSearchProgress {
public:
    using Callback = std::function<void(int percent)>;

    void Set(Callback callback, const std::atomic<bool>* cancel)
    {
        m_callback = std::move(callback);
        m_cancel = cancel;
    }
    // A new search starts at 0.
    void Start()
    {
        m_last = -1;
        Report(0);
    }
    void Report(int percent)
    {
        percent = std::clamp(percent, 0, 100);
        if (percent <= m_last) return;
        m_last = percent;
        if (m_callback) m_callback(percent);
    }
    bool Cancelled() const { return m_cancel && m_cancel->load(); }

private:
    Callback m_callback;
    const std::atomic<bool>* m_cancel = nullptr;
    int m_last = -1;
};

}  // namespace velmor
