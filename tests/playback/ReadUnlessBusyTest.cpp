#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "player/playback/ReadUnlessBusy.h"

namespace {

using velmor::CReadUnlessBusy;

TEST(ReadUnlessBusy, ReadsWhenTheLockIsFree)
{
    std::mutex busy;
    CReadUnlessBusy<std::string> value;
    EXPECT_EQ(value.Read(busy, [] { return std::string("vaapi"); }), "vaapi");
    EXPECT_EQ(value.Read(busy, [] { return std::string("none"); }), "none");
    // The lock is free again afterwards.
    EXPECT_TRUE(busy.try_lock());
    busy.unlock();
}

TEST(ReadUnlessBusy, GivesTheLastValueWhileAnotherThreadHoldsTheLock)
{
    std::mutex busy;
    CReadUnlessBusy<std::string> value;
    EXPECT_EQ(value.Read(busy, [] { return std::string("cuda"); }), "cuda");

    std::promise<void> held, release;
    std::thread writer([&] {
        std::lock_guard<std::mutex> lock(busy);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    bool ran = false;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(value.Read(busy,
                         [&] {
                             ran = true;
                             return std::string("none");
                         }),
              "cuda");
    EXPECT_FALSE(ran);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    release.set_value();
    writer.join();
    EXPECT_EQ(value.Read(busy, [] { return std::string("none"); }), "none");
}

TEST(ReadUnlessBusy, DefaultBeforeAnyRead)
{
    std::mutex busy;
    CReadUnlessBusy<int> value;
    std::lock_guard<std::mutex> lock(busy);
    std::thread reader([&] { EXPECT_EQ(value.Read(busy, [] { return 7; }), 0); });
    reader.join();
}

}  // namespace
