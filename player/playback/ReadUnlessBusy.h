// A value read under a lock that its writer may hold for long (a play
// thread opening a decoder and binding its window holds the player's lock
// for as long as the other windows take to bind theirs): the interface
// thread takes the last value read instead of waiting for it.
#pragma once

#include <mutex>

namespace velmor {

template <class T>
class CReadUnlessBusy {
public:
    // `read` runs under `busy` when it is free; the value it returned last
    // time otherwise (T's default before the first read).
    template <class F>
    T Read(std::mutex& busy, F read) const
    {
        std::unique_lock<std::mutex> lock(busy, std::try_to_lock);
        std::lock_guard<std::mutex> last(m_lastLock);
        if (lock.owns_lock()) m_last = read();
        return m_last;
    }

private:
    mutable std::mutex m_lastLock;
    mutable T m_last{};
};

}  // namespace velmor
