// The control socket's play commands: each does what the matching button,
// slider or click of the play window set does, on the interface thread.
#pragma once

#include <QJsonObject>

namespace velmor {

class CControlServer;
class CPlayWndDlg;

void AddPlayCommands(CControlServer& control);
// ["get","state"] and ["get","map"].
QJsonObject PlayStateJson(CPlayWndDlg& dlg);
QJsonObject MapJson(CPlayWndDlg& dlg);

}  // namespace velmor
