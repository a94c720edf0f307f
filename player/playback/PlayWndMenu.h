// The context menu of a play window (skin/PlayWndMenu.ui): shows or hides
// the window's information strip.
#pragma once

#include <QMenu>

#include <memory>

namespace velmor {

class CUiHost;

class CPlayWndMenu {
public:
    enum class EChoice { kNone, kOpenInfo, kCloseInfo };

    // The menu with its items "PlayWnd_Label_OpenInfo" and
    // "PlayWnd_Label_CloseInfo" in the current language.
    static std::unique_ptr<QMenu> Build(CUiHost& host, QWidget* parent);
    // What an item chosen from that menu asks for.
    static EChoice ChoiceOf(const QAction* chosen);
    // Shows the menu at `globalPos` and waits for the choice.
    static EChoice Exec(CUiHost& host, QWidget* parent, const QPoint& globalPos);
};

}  // namespace velmor
