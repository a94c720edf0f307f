// "Never writes a source" checks that hold for root too: the code under test
// runs in a child process that sees the source folder as a read-only mount,
// so opening any file there for writing fails (EROFS) whatever the
// permissions, and a reader that asks for write access cannot pass.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace velmor::fixtures {

struct ReadOnlyRun {
    bool available = false;  // false: this machine offers no private mount (why says so)
    int exitCode = -1;       // what body returned, or 128 + signal when it died
    std::string why;
};

// Runs body() in a forked child with `dir` mounted read-only over itself in a
// mount namespace of its own (a user namespace too when not root). The body
// reports through its return value (0: all well); gtest assertions inside it
// do not reach the parent.
ReadOnlyRun RunWithReadOnlyView(const std::filesystem::path& dir, const std::function<int()>& body);

}  // namespace velmor::fixtures
