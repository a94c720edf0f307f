// The context menu of a play window (skin/PlayWndMenu.ui): shows or hides
// the window's information strip.
#pragma once

#include <QMenu>

#include <memory>
#include <string>

namespace velmor {

class CUiHost;

// The decoding path of a window: "vaapi", "cuda" or "none" (software), and
// why software was taken after a device failed (empty otherwise).
struct DecodePathInfo {
    std::string name = "none";
    std::string reason;
};

class CPlayWndMenu {
public:
    enum class EChoice { kNone, kOpenInfo, kCloseInfo };

    // The menu with its items "PlayWnd_Label_OpenInfo" and
    // "PlayWnd_Label_CloseInfo" in the current language, and, when a path is
    // given, a line that names the window's decoding path (not an action:
    // the reason for software decoding is its tooltip).
    static std::unique_ptr<QMenu> Build(CUiHost& host, QWidget* parent, const DecodePathInfo* path = nullptr);
    // What an item chosen from that menu asks for.
    static EChoice ChoiceOf(const QAction* chosen);
    // Shows the menu at `globalPos` and waits for the choice.
    static EChoice Exec(CUiHost& host, QWidget* parent, const QPoint& globalPos, const DecodePathInfo& path);
};

}  // namespace velmor
