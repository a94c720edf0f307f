#include "player/ui/ActionTable.h"

#include <algorithm>

namespace velmor {

void CActionTable::Add(Action action)
{
    for (Action& a : m_actions)
        if (a.name == action.name) {
            a = std::move(action);
            return;
        }
    m_actions.push_back(std::move(action));
}

const CActionTable::Action* CActionTable::Find(const std::string& name) const
{
    for (const Action& a : m_actions)
        if (a.name == name) return &a;
    return nullptr;
}

bool CActionTable::Run(const std::string& name) const
{
    const Action* a = Find(name);
    if (!a || !a->run || (a->available && !a->available())) return false;
    a->run();
    return true;
}

bool CActionTable::RunKey(const std::string& key) const
{
    for (const Action& a : m_actions)
        if (std::find(a.keys.begin(), a.keys.end(), key) != a.keys.end() && Run(a.name)) return true;
    return false;
}

std::vector<std::string> CActionTable::Keys() const
{
    std::vector<std::string> keys;
    for (const Action& a : m_actions)
        for (const std::string& k : a.keys)
            if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
    return keys;
}

}  // namespace velmor
