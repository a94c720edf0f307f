// The map area of the driving-record page ("DrivingCEFmapInfo"): one of the
// pages under chart/ in an embedded browser, fed with the vehicle's moves as
// script calls. An offline tile file is served to the tile map page from
// this process.
#pragma once

#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "player/workspace/ScriptQueue.h"

class QWebEngineView;
class QWebEngineProfile;
class QWebEngineLoadingInfo;

namespace velmor {

class CMbTiles;

struct MapPageOptions {
    int mapType = 0;
    int language = 0;
    std::string googleKey;
    std::string gstFile;
    bool convertGps = false;
};

class CMapPageWnd : public QWidget {
    Q_OBJECT
public:
    // The address scheme the offline tiles are served under.
    static constexpr const char* kTileScheme = "velmortiles";
    // Registers the tile scheme with the browser; call once before the
    // application object is made (later calls do nothing).
    static void RegisterSchemes();

    explicit CMapPageWnd(QWidget* parent = nullptr);
    ~CMapPageWnd() override;

    // Where the installed pages are (chart/ below `resources`) and where a
    // page copy with the user's key is written (chart/ below `data`). By
    // default the folders of the running program.
    void SetFolders(std::filesystem::path resources, std::filesystem::path data);

    void LoadMapPage(const MapPageOptions& options);
    void RunScript(const std::string& script);  // queued in order until the page has loaded
    bool Loaded() const;
    std::string Page() const;                   // the file or address loaded
    std::vector<std::string> Scripts() const;   // the last 200 scripts run, oldest first
    void SetTool(int tool);                     // 1001 pan, 1003 zoom in, 1004 zoom out

    int Tool() const { return m_tool; }
    // Why the last load showed no map (empty when it did).
    std::string LastError() const { return m_lastError; }
    // "SetConvertCoorFlag(n)" as the page takes it for a setting.
    static std::string ConvertFlagScript(bool convertGps);
    QWebEngineView* View() const { return m_view; }

Q_SIGNALS:
    // The page finished loading, well or not.
    void PageLoaded(bool ok);

private:
    void OnLoading(const QWebEngineLoadingInfo& info);
    void Flush();
    void ShowNothing(const std::string& why);

    std::filesystem::path m_resources;
    std::filesystem::path m_data;
    QWebEngineProfile* m_profile = nullptr;
    QWebEngineView* m_view = nullptr;
    std::shared_ptr<CMbTiles> m_tiles;
    CScriptQueue m_queue;
    std::string m_page;
    QUrl m_requested;
    std::string m_lastError;
    bool m_showingError = false;
    int m_tool = 1001;
};

}  // namespace velmor
