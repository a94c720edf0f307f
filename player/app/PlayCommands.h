// The control socket's play commands: each does what the matching button,
// slider or click of the play window set does, on the interface thread.
#pragma once

#include <QJsonObject>

namespace velmor {

class CControlServer;
class CMainFrame;
class CPlayWndDlg;
class CUiHost;

void AddPlayCommands(CControlServer& control, CMainFrame& frame, CUiHost& host);
// ["get","state"] and ["get","map"].
QJsonObject PlayStateJson(CPlayWndDlg& dlg);
QJsonObject MapJson(CPlayWndDlg& dlg);

}  // namespace velmor
