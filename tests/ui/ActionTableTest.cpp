// The table of the user's actions: a click runs its action by name, a key
// runs the first of its actions that can be taken now.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/ui/ActionTable.h"

using namespace velmor;

namespace {

TEST(ActionTable, KeysRunTheFirstActionThatCanBeTakenNow)
{
    std::vector<std::string> ran;
    bool playing = false;
    CActionTable t;
    t.Add({"Pause", [&] { ran.push_back("Pause"); }, {"Space"}, [&] { return playing; }});
    t.Add({"Play", [&] { ran.push_back("Play"); }, {"Space"}, [&] { return !playing; }});
    t.Add({"Fast", [&] { ran.push_back("Fast"); }, {"+", "="}, {}});
    t.Add({"Stop", [&] { ran.push_back("Stop"); }, {}, {}});
    struct Step {
        bool playing;
        std::string key;
        bool taken;
        std::string ran;
    };
    for (const Step& s : {Step{false, "Space", true, "Play"}, Step{true, "Space", true, "Pause"},
                          Step{true, "=", true, "Fast"}, Step{true, "+", true, "Fast"}, Step{true, "F12", false, ""}}) {
        playing = s.playing;
        ran.clear();
        EXPECT_EQ(t.RunKey(s.key), s.taken) << s.key;
        EXPECT_EQ(ran, s.ran.empty() ? std::vector<std::string>{} : std::vector<std::string>{s.ran}) << s.key;
    }
    EXPECT_EQ(t.Keys(), (std::vector<std::string>{"Space", "+", "="}));
}

TEST(ActionTable, NamesFindReplaceAndRefuse)
{
    int a = 0, b = 0;
    CActionTable t;
    t.Add({"Snap", [&] { ++a; }, {"S"}, {}});
    EXPECT_TRUE(t.Run("Snap"));
    t.Add({"Snap", [&] { ++b; }, {"S"}, [] { return false; }});  // replaced
    EXPECT_EQ(t.Actions().size(), 1u);
    EXPECT_FALSE(t.Run("Snap")) << "not to be taken now";
    EXPECT_FALSE(t.Run("Nothing"));
    EXPECT_FALSE(t.RunKey("S"));
    ASSERT_NE(t.Find("Snap"), nullptr);
    t.Find("Snap")->run();  // a click runs it all the same
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    t.Add({"Empty", nullptr, {"E"}, {}});
    EXPECT_FALSE(t.Run("Empty"));
}

}  // namespace
