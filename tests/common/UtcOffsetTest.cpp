// The offset from UTC a user declares for a case, and the profile folder
// that the program and velmor-cli both keep their signing key in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "common/AppFolders.h"
#include "common/UtcOffset.h"

namespace velmor {
namespace {

TEST(UtcOffset, TheFormsAUserWritesAndTheOnesRefused)
{
    struct Row {
        const char* text;
        std::optional<int> minutes;
    };
    const Row rows[] = {
        {"+08:00", 480},  {"-05:30", -330}, {"+8", 480},        {"+0800", 480},      {"UTC+8", 480},
        {"utc-3:30", -210}, {" +05:45 ", 345}, {"Z", 0},         {"UTC", 0},          {"+14:00", 840},
        {"-12:00", -720}, {"+00:00", 0},    {"", std::nullopt}, {"8", std::nullopt}, {"+8:0", std::nullopt},
        {"+08:60", std::nullopt}, {"+14:01", std::nullopt}, {"-12:30", std::nullopt}, {"+530", std::nullopt},
        {"+08:00x", std::nullopt}, {"GMT+8", std::nullopt}, {"+", std::nullopt}, {"++8", std::nullopt},
    };
    for (const Row& r : rows) EXPECT_EQ(ParseUtcOffset(r.text), r.minutes) << "'" << r.text << "'";
}

TEST(UtcOffset, TextHasSignHoursAndMinutes)
{
    EXPECT_EQ(UtcOffsetText(480), "+08:00");
    EXPECT_EQ(UtcOffsetText(-330), "-05:30");
    EXPECT_EQ(UtcOffsetText(0), "+00:00");
    EXPECT_EQ(UtcOffsetText(345), "+05:45");
}

TEST(AppFolders, TheProfileOverrideHoldsTheSigningKey)
{
    const char* before = std::getenv("VELMOR_PROFILE_DIR");
    const std::string saved = before ? before : "";
    ::setenv("VELMOR_PROFILE_DIR", "/cases/profile", 1);
    const CAppFolders f = ResolveAppFolders("/opt/velmor/bin");
    EXPECT_EQ(f.SigningKeyFile(), std::filesystem::path("/cases/profile/Keys/ReportSigning.pem"));
    EXPECT_EQ(f.ConfigFile(), std::filesystem::path("/cases/profile/Congfig/SysTemConfig.ini"));
    EXPECT_EQ(ResolveOwnAppFolders().SigningKeyFile(), f.SigningKeyFile()) << "the same rules for every program";
    if (before)
        ::setenv("VELMOR_PROFILE_DIR", saved.c_str(), 1);
    else
        ::unsetenv("VELMOR_PROFILE_DIR");
}

}  // namespace
}  // namespace velmor
