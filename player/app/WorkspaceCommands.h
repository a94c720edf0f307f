// The control socket's driving-record commands: the search, a calendar
// day, a double click on the timeline, and what the map page and the speed
// graph show.
#pragma once

#include <QJsonObject>

namespace velmor {

class CControlServer;
class CRKDrivingRecord;

void AddWorkspaceCommands(CControlServer& control, CRKDrivingRecord& page);
// Tells the socket's clients of every search that ends ("search-done").
void PushSearchEvents(CControlServer& control, CRKDrivingRecord& page);
// ["get","map"] and ["get","speed_graph"].
QJsonObject MapPageJson(CRKDrivingRecord& page);
QJsonObject SpeedGraphJson(CRKDrivingRecord& page);

}  // namespace velmor
