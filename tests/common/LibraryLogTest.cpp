// The guard around exported calls: no exception passes, the fallback comes
// back, and the reason becomes the calling thread's last error text.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "common/LibraryLog.h"

namespace velmor {
namespace {

struct GuardCase {
    const char* name;
    std::function<long long()> body;
    long long result;
    const char* lastError;
};

const GuardCase kGuardCases[] = {
    {"Returns", [] { return 1LL << 40; }, 1LL << 40, "before"},  // the body's type, no narrowing
    {"OutOfMemory", []() -> long long { throw std::bad_alloc(); }, -7, "out of memory"},
    {"Exception", []() -> long long { throw std::runtime_error("disk gone"); }, -7, "disk gone"},
    {"AnythingElse", []() -> long long { throw 42; }, -7, "unexpected failure"},
};

class GuardedCall : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardedCall, FallbackAndReason)
{
    const GuardCase& c = GetParam();
    SetLastError(LogLibrary::Index, "before");
    EXPECT_EQ(Guarded(LogLibrary::Index, -7, [&] { return c.body(); }), c.result);
    EXPECT_STREQ(LastErrorText(LogLibrary::Index), c.lastError);
    EXPECT_STREQ(LastErrorText(LogLibrary::Store), "") << "another library's text is its own";
}

INSTANTIATE_TEST_SUITE_P(Bodies, GuardedCall, ::testing::ValuesIn(kGuardCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmor
