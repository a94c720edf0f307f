// Scripts for the map page: order, holding until loaded, the run record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/workspace/ScriptQueue.h"

using namespace velmor;

namespace {

using Texts = std::vector<std::string>;

TEST(ScriptQueue, HeldUntilLoadedThenInOrder)
{
    CScriptQueue q;
    EXPECT_FALSE(q.Loaded());
    EXPECT_TRUE(q.Push("a()"));
    EXPECT_TRUE(q.Push("b()"));
    EXPECT_TRUE(q.Push("c()"));
    EXPECT_EQ(q.TakeReady(), Texts{});
    EXPECT_EQ(q.Waiting(), 3u);
    EXPECT_EQ(q.Run(), Texts{});
    q.SetLoaded(true);
    EXPECT_TRUE(q.Loaded());
    EXPECT_EQ(q.TakeReady(), (Texts{"a()", "b()", "c()"}));
    EXPECT_EQ(q.Waiting(), 0u);
    EXPECT_TRUE(q.Push("d()"));
    EXPECT_EQ(q.TakeReady(), Texts{"d()"});
    EXPECT_EQ(q.Run(), (Texts{"a()", "b()", "c()", "d()"}));
}

TEST(ScriptQueue, KeepsTheLast200Run)
{
    CScriptQueue q;
    q.SetLoaded(true);
    for (int i = 0; i < 250; ++i) {
        q.Push("s" + std::to_string(i));
        if (i % 7 == 0) q.TakeReady();
    }
    q.TakeReady();
    const Texts run = q.Run();
    ASSERT_EQ(run.size(), 200u);
    EXPECT_EQ(run.front(), "s50");
    EXPECT_EQ(run[1], "s51");
    EXPECT_EQ(run.back(), "s249");
}

TEST(ScriptQueue, ExactlyTheCapKeepsAll)
{
    CScriptQueue q;
    for (int i = 0; i < 200; ++i) q.Push("s" + std::to_string(i));
    q.SetLoaded(true);
    EXPECT_EQ(q.TakeReady().size(), 200u);
    EXPECT_EQ(q.Run().front(), "s0");
    q.Push("s200");
    q.TakeReady();
    EXPECT_EQ(q.Run().front(), "s1");
}

TEST(ScriptQueue, NewPageDropsWaitingScripts)
{
    CScriptQueue q;
    q.SetLoaded(true);
    q.Push("old()");
    q.TakeReady();
    q.Reset();
    EXPECT_FALSE(q.Loaded());
    q.Push("lost()");
    q.Reset();
    q.Push("kept()");
    q.SetLoaded(true);
    EXPECT_EQ(q.TakeReady(), Texts{"kept()"});
    EXPECT_EQ(q.Run(), (Texts{"old()", "kept()"}));
}

TEST(ScriptQueue, FailedPageTakesNothing)
{
    CScriptQueue q;
    q.Push("a()");
    q.SetLoaded(false);
    EXPECT_FALSE(q.Loaded());
    EXPECT_EQ(q.Waiting(), 0u);
    EXPECT_FALSE(q.Push("b()"));
    EXPECT_EQ(q.TakeReady(), Texts{});
    q.Reset();
    EXPECT_TRUE(q.Push("c()"));
}

TEST(ScriptQueue, WaitingQueueHasABound)
{
    CScriptQueue q;
    for (size_t i = 0; i < CScriptQueue::kMaxWaiting; ++i) ASSERT_TRUE(q.Push("x"));
    EXPECT_FALSE(q.Push("over"));
    EXPECT_EQ(q.Waiting(), 100000u);
}

}  // namespace
