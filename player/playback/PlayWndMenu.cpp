#include "player/playback/PlayWndMenu.h"

#include <QAction>

#include "player/ui/UiHost.h"

namespace velmor {

namespace {

struct Item {
    const char* name;
    const char* langKey;
};
constexpr Item kItems[] = {{"PlayWnd_Label_OpenInfo", "PlayBack_ToolTip_OpenTool"},
                           {"PlayWnd_Label_CloseInfo", "PlayBack_ToolTip_CloseTool"}};

}  // namespace

std::unique_ptr<QMenu> CPlayWndMenu::Build(CUiHost& host, QWidget* parent, const DecodePathInfo* path)
{
    // The loader answers a missing or broken layout with a plain widget:
    // the menu is then made here, with the same items.
    QWidget* loaded = host.Load("PlayWndMenu", parent);
    std::unique_ptr<QMenu> menu(qobject_cast<QMenu*>(loaded));
    if (!menu) {
        delete loaded;
        menu = std::make_unique<QMenu>(parent);
        menu->setObjectName("PlayWndMenu");
    }
    for (const Item& item : kItems) {
        QAction* action = menu->findChild<QAction*>(item.name);
        if (!action) {
            action = menu->addAction(QString());
            action->setObjectName(item.name);
        }
        action->setText(host.Text(item.langKey));
    }
    if (path) {
        menu->addSeparator();
        const bool hardware = path->name != "none";
        QAction* line = menu->addAction(host.Text(hardware ? "PlayWnd_Menu_DecodeHardware" : "PlayWnd_Menu_DecodeSoftware") +
                                        (hardware ? " (" + QString::fromStdString(path->name) + ")" : QString()));
        line->setObjectName("PlayWnd_Label_Decoding");
        line->setEnabled(false);
        if (!path->reason.empty()) line->setToolTip(QString::fromStdString(path->reason));
        menu->setToolTipsVisible(true);
    }
    return menu;
}

CPlayWndMenu::EChoice CPlayWndMenu::ChoiceOf(const QAction* chosen)
{
    if (!chosen) return EChoice::kNone;
    if (chosen->objectName() == kItems[0].name) return EChoice::kOpenInfo;
    if (chosen->objectName() == kItems[1].name) return EChoice::kCloseInfo;
    return EChoice::kNone;
}

CPlayWndMenu::EChoice CPlayWndMenu::Exec(CUiHost& host, QWidget* parent, const QPoint& globalPos,
                                          const DecodePathInfo& path)
{
    const std::unique_ptr<QMenu> menu = Build(host, parent, &path);
    return ChoiceOf(menu->exec(globalPos));
}

}  // namespace velmor
