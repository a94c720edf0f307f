#include "player/ui/AppTrace.h"

#include <memory>
#include <mutex>

#include "common/AppPaths.h"

namespace velmor {
namespace {

std::mutex g_mutex;
std::shared_ptr<CTraceSwitch> g_switch;

std::shared_ptr<CTraceSwitch> Switch()
{
    std::lock_guard lock(g_mutex);
    if (!g_switch) g_switch = std::make_shared<CTraceSwitch>("LangList", "Debug", 3600);
    return g_switch;
}

}  // namespace

void SetAppTraceTable(const std::filesystem::path& table)
{
    auto s = std::make_shared<CTraceSwitch>("LangList", "Debug", 3600, table, SteadyMilliseconds);
    std::lock_guard lock(g_mutex);
    g_switch = std::move(s);
}

bool AppTraceOn(int level)
{
    const int s = Switch()->Value();
    return s != 0 && level >= s;
}

}  // namespace velmor
