// The driving-record page: where to search, the calendar of days with
// recordings, the play window set with the timeline under it, and the map,
// information tabs and speed graph on the right. A double click on the
// timeline plays every channel from that second; single files dropped,
// opened or handed over play through the same page.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "player/playback/PlayWndDlg.h"
#include "player/search/UDisks2Service.h"
#include "player/ui/ActionTable.h"
#include "player/workspace/CutDlg.h"
#include "player/workspace/DrivingPlan.h"
#include "player/workspace/MapPageWnd.h"
#include "player/workspace/SearchRunner.h"

class QCheckBox;
class QComboBox;
class QProgressBar;
class QTreeWidget;

namespace velmor {

class CRKCalendar;
class CRKTimelineWnd;
class CSpeedGraphWnd;
class CGSensorWnd;
class CIoAlarmWnd;
class CTemperatureWnd;
class CUiHost;

class CRKDrivingRecord : public QWidget {
public:
    // The page reads `settings` where it uses them and follows every change.
    CRKDrivingRecord(CUiHost& host, CSettings& settings, QWidget* parent = nullptr);
    ~CRKDrivingRecord() override;

    CPlayWndDlg* PlayWnd() const { return m_play; }
    CRKTimelineWnd* Timeline() const { return m_timeline; }
    CRKCalendar* Calendar() const { return m_calendar; }
    CMapPageWnd* MapPage() const { return m_map; }
    CSpeedGraphWnd* SpeedGraph() const { return m_speed; }

    // The search button: the source and types chosen on the page, the
    // channels of the RecordChn setting (or `channels`, bit n-1: channel n).
    bool SearchRecordFile(std::optional<uint32_t> channels = std::nullopt, std::string* error = nullptr);
    // The source controls as the user sets them: a recorder disk (by name,
    // empty: the first), a folder or file, or a client download folder.
    void ChooseSource(ESearchSource source, const std::string& path);
    // A search of `request` with the page's type filter; false (with the
    // reason) when one is running or no type is chosen.
    bool StartSearch(SearchRequest request, std::string* error = nullptr);
    bool Searching() const { return m_runner.Busy(); }
    // Told of every search that ends, on the interface thread.
    void AddOnSearchDone(std::function<void(const SearchOutcome&)> fn) { m_onSearchDone.push_back(std::move(fn)); }
    const SearchResultMap& Result() const { return m_result; }
    std::set<int> Days() const { return DaysWithRecords(m_result, m_filter); }

    // The type check boxes: "Driving_Option_All" or "Driving_Option_Alarm".
    void SetTypeFilter(ETypeFilter filter);
    ETypeFilter TypeFilter() const { return m_filter; }
    bool TypeChosen() const;

    // A day of the calendar (YYYYMMDD): its records of the chosen types on
    // the timeline; false for a day without any.
    bool ShowOneDayIFVInfoToTimeline(int day);
    int CurrentDay() const { return m_day; }
    std::vector<std::vector<DayBar>> CurrentRows() const;

    // The double click on the timeline at a second of the shown day.
    bool OnDbClilcKTimeLine(int secondOfDay, std::string* error = nullptr);
    // Time play of the search result from recorder second `t`.
    bool PlayAt(uint32_t t, std::string* error = nullptr);
    // A file dropped, opened, given on the command line or handed over.
    bool PlayOneRecordFile(const std::string& path, std::string* error = nullptr);
    void SetSingleFileGUIInfo(const std::string& path);

    // The "MainFrm_Btn_PlayBack" view: the same page without its side panels.
    void SetSidePanelsVisible(bool visible);
    // What clip cutting works on: the source and the marked range.
    std::optional<CutSource> CurrentCutSource() const;
    // The cut button: the dialog for the marked range of the shown day,
    // exporting into the folder `cutFolder` names when it opens.
    void OpenCutDialog();
    // Moves the range marks to [from, to] (recorder seconds), showing the
    // day of `from` first when another day is shown. False when no day of
    // the search holds `from`.
    bool MarkRange(uint32_t from, uint32_t to);
    void SetCutFolder(std::function<std::filesystem::path()> cutFolder) { m_cutFolder = std::move(cutFolder); }
    // The map page as the settings `s` choose it.
    static MapPageOptions MapOptionsOf(const SettingsRecord& s);
    void Relabel();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The page's controls in one table, the way the play window set has its own.
    void BuildActions();
    void OnNotify(const QString& control, const QString& notification);
    // Before a recorder disk's search: partitions of it that nothing has
    // mounted are offered a read-only mount, and one mounted read-write is
    // warned of and offered a read-only mount again, through the disk service.
    void OfferReadOnlyMount(const SearchRequest& request);
    void OnRButtonUpMsg(const QString& control);
    void OnSettingsChanged(const SettingsRecord& before, const SettingsRecord& now);
    void SetConvertGps(bool convert);
    void OnSearchDone(SearchOutcome outcome);
    void OnAttach(const StAttachInfo_t& info, const MapScripts* scripts);
    void FillDisks();
    void UpdateStorageInfo(const std::optional<SourceCapacity>& capacity, bool removable);
    void UpdateTypeLabels();
    void FillRecordInfo(const std::map<int, std::vector<StSearchRecord_t>>& day);
    void TogglePanel(const char* name);
    void ShowInfoTab(int index);
    QWidget* Area(const char* name);

    CUiHost& m_host;
    CSettings& m_settings;
    int m_settingsListener = 0;
    QWidget* m_root = nullptr;
    CPlayWndDlg* m_play = nullptr;
    CRKTimelineWnd* m_timeline = nullptr;
    CRKCalendar* m_calendar = nullptr;
    CMapPageWnd* m_map = nullptr;
    std::function<std::filesystem::path()> m_cutFolder;
    CSpeedGraphWnd* m_speed = nullptr;
    CGSensorWnd* m_gsensor = nullptr;
    CIoAlarmWnd* m_io = nullptr;
    CTemperatureWnd* m_temperature = nullptr;
    std::optional<SourceCapacity> m_capacity;  // of the storage information shown
    bool m_removable = false;
    QWidget* m_storage = nullptr;
    QProgressBar* m_progress = nullptr;
    QCheckBox* m_optAll = nullptr;
    QCheckBox* m_optAlarm = nullptr;
    QCheckBox* m_optNormal = nullptr;
    QTreeWidget* m_info = nullptr;
    QComboBox* m_vehicles = nullptr;

    CSearchRunner m_runner;
    CActionTable m_actions;
    CUDisks2Service m_diskService;
    std::set<std::string> m_toldNotices;  // each said once a run
    std::vector<std::function<void(const SearchOutcome&)>> m_onSearchDone;
    SearchResultMap m_result;
    std::vector<EventRecord> m_events;
    PlanSource m_source;
    ESourceKind m_sourceKind = ESourceKind::kUnknown;
    ETypeFilter m_filter = ETypeFilter::kAll;
    int m_day = 0;
    uint32_t m_graphBase = 0;  // the second the speed graph counts from
    bool m_removableSource = false;
};

}  // namespace velmor
