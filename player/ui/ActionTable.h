// What the user can do in a window, in one table: each action is named
// after the control that does it and lists the keys that do it too. The
// buttons' clicks, the keyboard shortcuts and the control socket (which
// clicks the buttons) all run the table's actions, so every way in does the
// same thing.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace velmor {

class CActionTable {
public:
    struct Action {
        std::string name;               // the control's name ("Driving_Btn_Play")
        std::function<void()> run;
        std::vector<std::string> keys;  // portable key texts ("Space", "Ctrl+Shift+O")
        // Whether the action can be taken now (empty: always); a key that
        // several actions share runs the first of them that can.
        std::function<bool()> available;
    };

    // Adds or replaces the action of that name.
    void Add(Action action);
    // Runs the action; false when there is none of that name or it cannot be taken now.
    bool Run(const std::string& name) const;
    // Runs the first action that `key` belongs to and that can be taken now.
    bool RunKey(const std::string& key) const;
    const Action* Find(const std::string& name) const;
    // Every key of the table, each once, in the order first given.
    std::vector<std::string> Keys() const;
    const std::vector<Action>& Actions() const { return m_actions; }

private:
    std::vector<Action> m_actions;
};

}  // namespace velmor
