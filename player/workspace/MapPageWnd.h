// The map page of the driving-record page ("DrivingCEFmapInfo").
#pragma once

#include <QWidget>

#include <string>
#include <vector>

namespace velmor {

struct MapPageOptions {
    int mapType = 0;
    int language = 0;
    std::string googleKey;
    std::string gstFile;
    bool convertGps = false;
};

class CMapPageWnd : public QWidget {
public:
    explicit CMapPageWnd(QWidget* parent = nullptr);
    void LoadMapPage(const MapPageOptions& options);
    void RunScript(const std::string& script);  // queued in order until the page has loaded
    bool Loaded() const;
    std::string Page() const;                   // the file or address loaded
    std::vector<std::string> Scripts() const;   // the last 200 scripts run, oldest first
    void SetTool(int tool);                     // 1001 pan, 1003 zoom in, 1004 zoom out

    // Kept by the stand-in until the real page arrives.
    std::vector<std::string> m_scripts;
    std::string m_page;
    int m_tool = 1001;
};

}  // namespace velmor
