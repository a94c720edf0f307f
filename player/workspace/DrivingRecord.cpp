#include "player/workspace/DrivingRecord.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <ctime>

#include "player/export/PositionGrid.h"
#include "player/search/SearchRecordFile.h"
#include "player/ui/AppTrace.h"
#include "player/ui/UiHost.h"
#include "player/workspace/Graphs.h"
#include "player/workspace/CutDlg.h"
#include "player/workspace/RKCalendar.h"
#include "player/workspace/TimelineWnd.h"

namespace velmor {
namespace fs = std::filesystem;

namespace {

// The two type labels: the chosen one in blue, the other white.
const char* const kChosenStyle = "color: #1E90FF;";
const char* const kOtherStyle = "color: #FFFFFF;";

// The page's own controls: notifications of the play window set's controls
// are its own to handle.
const char* const kInfoTabs[] = {"Driving_Option_RecordInfo", "Driving_Option_Speed", "Driving_Option_GSensor",
                                 "Driving_Option_IOUrgentWarn"};

QString TimeText(uint32_t seconds)
{
    const std::time_t t = seconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    return QString::asprintf("%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

QString LastLocalFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls()) return {};
    QString last;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) last = url.toLocalFile();
    return last;
}

}  // namespace

CRKDrivingRecord::CRKDrivingRecord(CUiHost& host, CSettings& settings, QWidget* parent)
    : QWidget(parent), m_host(host), m_settings(settings), m_runner([this](std::function<void()> fn) { CUiHost::Post(this, std::move(fn)); })
{
    setObjectName("CRKDrivingRecord");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    m_root = host.Load("DrivingRecord", this);
    lay->addWidget(m_root);
    // Only the page's own controls: the children added below route their own.
    BuildActions();
    host.Route(m_root, [this](const QString& c, const QString& n) { OnNotify(c, n); });

    m_play = new CPlayWndDlg(host, settings, Area("Driving_PlayArea"));
    Area("Driving_PlayArea")->layout()->addWidget(m_play);
    m_timeline = new CRKTimelineWnd(Area("Driving_TimelineArea"));
    m_timeline->setObjectName("TimelineChild");
    Area("Driving_TimelineArea")->layout()->addWidget(m_timeline);
    m_calendar = new CRKCalendar(host, Area("Driving_CalendarArea"));
    m_calendar->setObjectName("calendarwnd");
    Area("Driving_CalendarArea")->layout()->addWidget(m_calendar);
    m_map = new CMapPageWnd(Area("Driving_MapArea"));
    m_map->setObjectName("DrivingCEFmapInfo");
    Area("Driving_MapArea")->layout()->addWidget(m_map);
    m_speed = new CSpeedGraphWnd(Area("Driving_SpeedArea"));
    m_speed->setObjectName("SpeedGraphChild");
    Area("Driving_SpeedArea")->layout()->addWidget(m_speed);
    m_gsensor = new CGSensorWnd(Area("Driving_GSensorArea"));
    Area("Driving_GSensorArea")->layout()->addWidget(m_gsensor);
    m_io = new CIoAlarmWnd(Area("Driving_IOArea"));
    Area("Driving_IOArea")->layout()->addWidget(m_io);
    // The recordings hold no temperatures; the window says so under the speeds.
    m_temperature = new CTemperatureWnd(Area("Driving_SpeedArea"));
    Area("Driving_SpeedArea")->layout()->addWidget(m_temperature);
    m_storage = host.Load("StorageInfo", Area("Driving_Storage"));
    Area("Driving_Storage")->layout()->addWidget(m_storage);
    m_storage->hide();

    m_progress = CUiHost::Find<QProgressBar>(m_root, "Driving_Progress_Search");
    m_optAll = CUiHost::Find<QCheckBox>(m_root, "Driving_Option_All");
    m_optAlarm = CUiHost::Find<QCheckBox>(m_root, "Driving_Option_Alarm");
    m_optNormal = CUiHost::Find<QCheckBox>(m_root, "Driving_Option_Normal");
    m_info = CUiHost::Find<QTreeWidget>(m_root, "Driving_List_RecordInfo");
    m_vehicles = CUiHost::Find<QComboBox>(m_root, "Driving_Combo_Vehicle");
    if (m_progress) m_progress->hide();
    if (m_info) {
        m_info->setRootIsDecorated(false);
        m_info->setColumnCount(3);
    }

    m_play->SetScriptSink([this](const std::string& s) { m_map->RunScript(s); });
    m_play->SetAttachSink([this](const StAttachInfo_t& info, const MapScripts* s) { OnAttach(info, s); });
    m_play->SetOpenHandler([this](const std::string& path, std::string* error) { return PlayOneRecordFile(path, error); });
    // The correction grid is loaded with the page; positions on the map are
    // corrected with it while ConvertGPS is on (and the page is told so).
    const CPositionGrid& grid = CPositionGrid::Shared();
    if (!grid.Loaded()) APP_TRACE(1, "the position correction grid GPS/table.txt could not be read");
    m_play->SetPositionCorrection([&grid](double& lon, double& lat) { grid.Correct(lon, lat, &lon, &lat); });
    // The car on the map is named by the vehicle list's choice, read when a
    // position is shown ("unknow" with none chosen).
    m_play->SetVehicleName([this] {
        return m_vehicles && m_vehicles->currentIndex() >= 0 ? m_vehicles->currentText().toStdString() : std::string();
    });
    // The windows' on-screen text and the map's information text read the
    // events that the last search put in the event map.
    m_play->SetEvents([](uint32_t second) {
        std::vector<std::string> texts;
        for (const EventRecord& e : ProcessEventMap().At(second)) texts.push_back(e.description);
        return texts;
    });
    // The stop button ends the play: the cursor goes back to the day's start.
    m_play->SetStopHandler([this] { m_timeline->SetCursorTime(0); });
    m_timeline->SetOnDoubleClick([this](int second) { OnDbClilcKTimeLine(second); });
    m_calendar->SetOnDayClicked([this](int y, int m, int d) { ShowOneDayIFVInfoToTimeline(y * 10000 + m * 100 + d); });

    for (const char* name : {"Driving_Option_GSensor", "Driving_Option_IOUrgentWarn"})
        if (auto* w = CUiHost::Find<QWidget>(m_root, name)) {
            w->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(w, &QWidget::customContextMenuRequested, this, [this, name] { OnRButtonUpMsg(name); });
        }
    for (const char* name : {"Driving_Btn_Sound", "Driving_Btn_SoundClose"})
        if (auto* w = CUiHost::Find<QWidget>(m_play, name)) {
            w->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(w, &QWidget::customContextMenuRequested, this, [this, name] { OnRButtonUpMsg(name); });
        }

    FillDisks();
    SetTypeFilter(ETypeFilter::kAll);
    ShowInfoTab(0);
    m_timeline->Clear();
    m_map->LoadMapPage(MapOptionsOf(*m_settings.Snapshot()));
    m_settingsListener = m_settings.Subscribe(
        [this](const SettingsRecord& before, const SettingsRecord& now) { OnSettingsChanged(before, now); });
    Relabel();
    setAcceptDrops(true);
}

CRKDrivingRecord::~CRKDrivingRecord()
{
    m_settings.Unsubscribe(m_settingsListener);
    m_runner.Cancel();
    m_runner.Join();
}

QWidget* CRKDrivingRecord::Area(const char* name)
{
    QWidget* w = CUiHost::Find<QWidget>(m_root, name);
    if (!w) {
        // A layout without the area: the control still has a place.
        w = new QWidget(m_root);
        w->setObjectName(name);
        if (m_root->layout()) m_root->layout()->addWidget(w);
    }
    if (!w->layout()) {
        auto* l = new QVBoxLayout(w);
        l->setContentsMargins(0, 0, 0, 0);
    }
    return w;
}

void CRKDrivingRecord::Relabel()
{
    m_host.Relabel(m_root);
    m_calendar->Relabel();
    m_play->Relabel();
    // The storage type is a text of the language too.
    if (!m_storage->isHidden()) UpdateStorageInfo(m_capacity, m_removable);
    if (const CLanguageTable* language = m_host.Language()) {
        m_gsensor->Relabel(*language);
        m_io->Relabel(*language);
        m_temperature->Relabel(*language);
    }
    if (m_info)
        m_info->setHeaderLabels(
            {m_host.Text("Driving_Col_Channel"), m_host.Text("Driving_Col_Begin"), m_host.Text("Driving_Col_End")});
}

void CRKDrivingRecord::FillDisks()
{
    auto* combo = CUiHost::Find<QComboBox>(m_root, "Driving_Combo_MoveDisk");
    if (!combo) return;
    const QString current = combo->currentText();
    combo->blockSignals(true);
    combo->clear();
    for (const auto& [name, disk] : FindRecorderDisks()) combo->addItem(QString::fromStdString(name));
    const int at = combo->findText(current);
    if (at >= 0) combo->setCurrentIndex(at);
    combo->blockSignals(false);
}

void CRKDrivingRecord::UpdateStorageInfo(const std::optional<SourceCapacity>& capacity, bool removable)
{
    m_capacity = capacity;
    m_removable = removable;
    if (!capacity) {
        m_storage->hide();
        return;
    }
    if (auto* t = CUiHost::Find<QLabel>(m_storage, "Storage_Text_Type")) {
        const char* key = DriveTypeKey(removable ? EDriveType::kRemovable : EDriveType::kFixed);
        t->setText(*key ? m_host.Text(key) : QString());
    }
    if (auto* s = CUiHost::Find<QLabel>(m_storage, "Storage_Text_Size"))
        s->setText(QString::fromStdString(CapacityText(capacity->freeMiB, capacity->totalGiB)));
    if (auto* p = CUiHost::Find<QProgressBar>(m_storage, "Storage_Progress"))
        p->setValue(UsedPercent(capacity->freeMiB, capacity->totalGiB));
    m_storage->show();
}

bool CRKDrivingRecord::TypeChosen() const
{
    return (m_optAll && m_optAll->isChecked()) || (m_optAlarm && m_optAlarm->isChecked()) ||
           (m_optNormal && m_optNormal->isChecked());
}

void CRKDrivingRecord::SetTypeFilter(ETypeFilter filter)
{
    m_filter = filter;
    if (m_optAll) m_optAll->setChecked(m_filter == ETypeFilter::kAll);
    if (m_optNormal) m_optNormal->setChecked(m_filter == ETypeFilter::kNormal);
    if (m_optAlarm) m_optAlarm->setChecked(m_filter == ETypeFilter::kAlarm);
    UpdateTypeLabels();
    // The same day again with the new set; the calendar marks follow.
    if (!m_result.empty()) {
        m_calendar->SetMarkedDays(Days());
        // A day without records of the new types shows none.
        if (m_day && !ShowOneDayIFVInfoToTimeline(m_day)) {
            m_timeline->Clear();
            if (m_info) m_info->clear();
        }
    }
}

void CRKDrivingRecord::UpdateTypeLabels()
{
    if (m_optAll) m_optAll->setStyleSheet(m_optAll->isChecked() ? kChosenStyle : kOtherStyle);
    if (m_optAlarm) m_optAlarm->setStyleSheet(m_optAlarm->isChecked() ? kChosenStyle : kOtherStyle);
    if (m_optNormal) m_optNormal->setStyleSheet(m_optNormal->isChecked() ? kChosenStyle : kOtherStyle);
}

void CRKDrivingRecord::TogglePanel(const char* name)
{
    if (QWidget* w = CUiHost::Find<QWidget>(m_root, name)) w->setVisible(!w->isVisible());
}

void CRKDrivingRecord::SetSidePanelsVisible(bool visible)
{
    for (const char* name : {"Driving_LeftPanel", "Driving_RightPanel"})
        if (QWidget* w = CUiHost::Find<QWidget>(m_root, name)) w->setVisible(visible);
}

void CRKDrivingRecord::ShowInfoTab(int index)
{
    if (auto* stack = CUiHost::Find<QStackedWidget>(m_root, "Driving_InfoStack")) stack->setCurrentIndex(index);
    if (auto* b = CUiHost::Find<QAbstractButton>(m_root, kInfoTabs[index])) b->setChecked(true);
}

void CRKDrivingRecord::BuildActions()
{
    auto add = [this](const char* name, std::function<void()> run) { m_actions.Add({name, std::move(run), {}, {}}); };
    add("Driving_Btn_Search", [this] { SearchRecordFile(); });
    add("Driving_Btn_Browse", [this] {
        auto* edit = CUiHost::Find<QLineEdit>(m_root, "Driving_Edit_Folder");
        const QString folder = m_host.ChooseFolder(this, edit ? edit->text() : QString());
        if (edit && !folder.isEmpty()) edit->setText(folder);
    });
    add("Driving_Option_MoveHD", [this] { FillDisks(); });
    // Ticking one type box unticks the others; unticking leaves none.
    const std::pair<const char*, ETypeFilter> types[] = {{"Driving_Option_All", ETypeFilter::kAll},
                                                         {"Driving_Option_Alarm", ETypeFilter::kAlarm},
                                                         {"Driving_Option_Normal", ETypeFilter::kNormal}};
    for (const auto& [name, filter] : types)
        add(name, [this, name, filter] {
            auto* box = CUiHost::Find<QAbstractButton>(m_root, name);
            if (box && box->isChecked())
                SetTypeFilter(filter);
            else
                UpdateTypeLabels();
        });
    add("Driving_BtLeft", [this] { TogglePanel("Driving_LeftPanel"); });
    add("Driving_BtRight", [this] { TogglePanel("Driving_RightPanel"); });
    for (const char* name : {"Driving_BtUp", "Driving_BtDown"})
        add(name, [this, down = std::string(name) == "Driving_BtDown"] {
            if (QWidget* w = CUiHost::Find<QWidget>(m_root, "Driving_TimelineArea")) w->setVisible(down);
        });
    for (const char* name : {"Driving_BtLeftSearch", "Driving_BtRightSearch"})
        add(name, [this, show = std::string(name) == "Driving_BtRightSearch"] {
            if (QWidget* w = CUiHost::Find<QWidget>(m_root, "Driving_SearchPanel")) w->setVisible(show);
        });
    add("Driving_Btn_Cut", [this] { OpenCutDialog(); });
    add("MapInfo_PanTool", [this] { m_map->SetTool(1001); });
    add("MapInfo_ZoomIn", [this] { m_map->SetTool(1003); });
    add("MapInfo_ZoomOut", [this] { m_map->SetTool(1004); });
    add("PlayWnd_Menu_OpenInfo", [this] { m_play->SetToolStripsVisible(true); });
    add("PlayWnd_Menu_CloseInfo", [this] { m_play->SetToolStripsVisible(false); });
    for (int i = 0; i < int(std::size(kInfoTabs)); ++i) add(kInfoTabs[i], [this, i] { ShowInfoTab(i); });
}

void CRKDrivingRecord::OnNotify(const QString& control, const QString& notification)
{
    if (notification == "selectchanged" && control == "Driving_Combo_MoveDisk") {
        m_storage->hide();
        return;
    }
    if (notification != "click") return;
    m_actions.Run(control.toStdString());
}

void CRKDrivingRecord::OnRButtonUpMsg(const QString& control)
{
    if (control.isEmpty()) {
        APP_TRACE(1, "btnName Null");
        return;
    }
    if (control == "Driving_Btn_Sound" || control == "Driving_Btn_SoundClose") {
        m_play->CreateVoiceSettingDlg(true);
        return;
    }
    if (control == "Driving_Option_GSensor") {
        m_gsensor->ShowMenu(QCursor::pos());
    } else if (control == "Driving_Option_IOUrgentWarn") {
        m_io->ShowMenu(QCursor::pos());
    } else {
        APP_TRACE(1, "RightBtn:%s", control.toUtf8().constData());
    }
}

void CRKDrivingRecord::ChooseSource(ESearchSource source, const std::string& path)
{
    const char* option = source == ESearchSource::kRecorderDisk   ? "Driving_Option_MoveHD"
                         : source == ESearchSource::kClientFolder ? "Driving_Option_Client"
                                                                  : "Driving_Option_LocalFile";
    if (auto* radio = CUiHost::Find<QRadioButton>(m_root, option)) radio->click();
    if (source == ESearchSource::kRecorderDisk) {
        if (auto* combo = CUiHost::Find<QComboBox>(m_root, "Driving_Combo_MoveDisk")) {
            const int i = path.empty() ? 0 : combo->findText(QString::fromStdString(path));
            if (i >= 0 && i < combo->count()) combo->setCurrentIndex(i);
            else if (!path.empty()) combo->setEditText(QString::fromStdString(path));
        }
    } else if (auto* edit = CUiHost::Find<QLineEdit>(m_root, "Driving_Edit_Folder")) {
        edit->setText(QString::fromStdString(path));
    }
}

bool CRKDrivingRecord::SearchRecordFile(std::optional<uint32_t> channels, std::string* error)
{
    auto* disk = CUiHost::Find<QRadioButton>(m_root, "Driving_Option_MoveHD");
    auto* client = CUiHost::Find<QRadioButton>(m_root, "Driving_Option_Client");
    auto* edit = CUiHost::Find<QLineEdit>(m_root, "Driving_Edit_Folder");
    auto* combo = CUiHost::Find<QComboBox>(m_root, "Driving_Combo_MoveDisk");
    SearchRequest request;
    if (disk && disk->isChecked()) {
        request.source = ESearchSource::kRecorderDisk;
        request.path = combo ? combo->currentText().toStdString() : std::string();
    } else {
        request.source = client && client->isChecked() ? ESearchSource::kClientFolder : ESearchSource::kFolder;
        request.path = edit ? edit->text().toStdString() : std::string();
        std::error_code ec;
        if (request.source == ESearchSource::kFolder && std::filesystem::is_regular_file(request.path, ec))
            request.source = ESearchSource::kSingleFile;
    }
    request.channelMask = channels ? *channels : uint32_t(m_settings.Snapshot()->recordChn) & 0xFFFFu;
    std::string why;
    const bool ok = StartSearch(request, &why);
    // Without a type StartSearch has said so; the other refusal is a search still running.
    if (!ok && TypeChosen()) m_host.Message(this, "Driving_Msg_SearchRunning");
    if (error) *error = why;
    return ok;
}

bool CRKDrivingRecord::StartSearch(SearchRequest request, std::string* error)
{
    if (!TypeChosen()) {
        m_host.Message(this, "Main_Msg_SearchError");
        if (error) *error = "no record type is chosen";
        return false;
    }
    if (m_runner.Busy()) {
        if (error) *error = "a search is running";
        return false;
    }
    request.types = m_filter;
    request.diskService = &m_diskService;
    m_removableSource = request.source == ESearchSource::kRecorderDisk;
    if (m_removableSource) OfferReadOnlyMount(request);
    if (m_progress) {
        m_progress->setValue(0);
        m_progress->show();
    }
    APP_TRACE(1, "SearchRecordFile");
    return m_runner.Start(
        std::move(request),
        [this](int percent) {
            if (m_progress) m_progress->setValue(percent);
        },
        [this](SearchOutcome outcome) { OnSearchDone(std::move(outcome)); });
}

void CRKDrivingRecord::OfferReadOnlyMount(const SearchRequest& request)
{
    const auto disks = FindRecorderDisks(request.mountInfo, request.sysClassBlock);
    const auto it = request.path.empty() ? disks.begin() : disks.find(request.path.string());
    if (it == disks.end()) return;
    // Partitions nothing has mounted: mounted read-only on the user's word.
    if (!it->second.unmounted.empty() &&
        m_host.Message(this, "Driving_Msg_MountUnmounted", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
            QMessageBox::Yes) {
        for (const std::string& device : it->second.unmounted) {
            std::string why;
            if (const auto point = m_diskService.MountReadOnly(device, &why)) {
                APP_TRACE(1, "%s mounted read-only at %s", device.c_str(), point->c_str());
            } else {
                APP_TRACE(1, "%s could not be mounted read-only: %s", device.c_str(), why.c_str());
                m_host.Message(this, "Driving_Msg_RemountFailed");
            }
        }
    }
    std::vector<std::string> writable;
    for (size_t i = 0; i < it->second.devices.size(); ++i)
        if (it->second.writable[i]) writable.push_back(it->second.devices[i]);
    if (writable.empty()) return;
    // Mounted read-write, the disk has its access dates and dirty flag
    // written by the system, whatever this program does: say so, and offer
    // to mount it again read-only.
    APP_TRACE(1, "disk %s is mounted read-write", it->first.c_str());
    if (m_host.Message(this, "Driving_Msg_MountedWritable", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) !=
        QMessageBox::Yes)
        return;
    for (const std::string& device : writable) {
        std::string why;
        if (const auto point = m_diskService.RemountReadOnly(device, &why)) {
            APP_TRACE(1, "%s mounted again read-only at %s", device.c_str(), point->c_str());
        } else {
            APP_TRACE(1, "%s could not be mounted read-only: %s", device.c_str(), why.c_str());
            m_host.Message(this, "Driving_Msg_RemountFailed");
        }
    }
}

void CRKDrivingRecord::OnSearchDone(SearchOutcome outcome)
{
    if (m_progress) m_progress->hide();
    for (const std::string& note : outcome.notes) APP_TRACE(1, "%s", note.c_str());
    // A partition read from its index heads because its device could not be
    // had: the user is told once, the reason goes to the trace.
    bool tell = false;
    for (const std::string& notice : outcome.notices) {
        APP_TRACE(1, "%s", notice.c_str());
        tell |= m_toldNotices.insert(notice).second;
    }
    if (tell) m_host.Message(this, "Driving_Msg_DeviceNotRead");
    if (outcome.ok) {
        m_result = outcome.result;
        m_events = outcome.events;
        m_source = outcome.source;
        m_sourceKind = outcome.kind;
        m_day = 0;
        if (m_vehicles) {
            // The vehicles of the search; the first is chosen, so that the
            // car on the map has its name.
            m_vehicles->clear();
            for (const std::string& name : VehicleNames(outcome)) m_vehicles->addItem(QString::fromStdString(name));
            m_vehicles->setCurrentIndex(m_vehicles->count() > 0 ? 0 : -1);
        }
        UpdateStorageInfo(outcome.capacity, m_removableSource);
        const std::set<int> days = Days();
        m_calendar->SetMarkedDays(days);
        m_timeline->Clear();
        if (!days.empty()) {
            const int first = *days.begin();
            m_calendar->SelectDay(first / 10000, first / 100 % 100, first % 100);
            ShowOneDayIFVInfoToTimeline(first);
        }
    } else if (!outcome.cancelled) {
        APP_TRACE(1, "search: %s", outcome.error.c_str());
        m_host.Message(this, "Main_Msg_SearchError");
    }
    for (const auto& fn : m_onSearchDone) fn(outcome);
}

bool CRKDrivingRecord::ShowOneDayIFVInfoToTimeline(int day)
{
    const auto records = DayRecords(m_result, day, m_filter);
    if (records.empty()) {
        APP_TRACE(1, "no record on %d", day);
        return false;
    }
    m_day = day;
    m_timeline->ShowTimelineWndByFile(records);
    m_calendar->SelectDay(day / 10000, day / 100 % 100, day % 100);
    FillRecordInfo(records);
    return true;
}

std::vector<std::vector<DayBar>> CRKDrivingRecord::CurrentRows() const
{
    if (!m_day) return {};
    return DayRows(DayRecords(m_result, m_day, m_filter), m_day);
}

void CRKDrivingRecord::FillRecordInfo(const std::map<int, std::vector<StSearchRecord_t>>& day)
{
    if (!m_info) return;
    m_info->clear();
    for (const auto& [channel, records] : day)
        for (const StSearchRecord_t& r : records)
            m_info->addTopLevelItem(new QTreeWidgetItem(
                {QString::number(channel), TimeText(r.beginTime.get()), TimeText(r.endTime.get())}));
}

bool CRKDrivingRecord::OnDbClilcKTimeLine(int secondOfDay, std::string* error)
{
    const auto start = m_day ? DayStart(m_day) : std::nullopt;
    if (!start) {
        m_host.Message(this, "Driving_Msg_NoRecord");
        if (error) *error = "no day is shown";
        return false;
    }
    return PlayAt(*start + uint32_t(std::clamp(secondOfDay, 0, 86400)), error);
}

bool CRKDrivingRecord::PlayAt(uint32_t t, std::string* error)
{
    std::vector<std::string> notes;
    // The channels of the RecordChn setting in force, also when it changed since the search.
    SearchResultMap chosen = m_result;
    const uint32_t channels = uint32_t(m_settings.Snapshot()->recordChn);
    std::erase_if(chosen, [channels](const auto& entry) {
        return entry.first < 1 || entry.first > 16 || !(channels & (1u << (entry.first - 1)));
    });
    const auto plan = chosen.empty() ? std::nullopt
                                     : SearchRecordTodbClickTimeLine(chosen, t, m_source, m_play->PlayType(), &notes);
    for (const std::string& note : notes) APP_TRACE(1, "%s", note.c_str());
    if (!plan) {
        // Whatever plays goes on.
        m_host.Message(this, "Driving_Msg_NoRecord");
        if (error) *error = "no recording at or after that time";
        return false;
    }
    m_speed->Clear();
    m_graphBase = plan->rangeStart;
    m_play->StartTimePlay(
        {plan->playType, plan->layout, plan->rangeStart, plan->rangeEnd, plan->rangeStart, plan->channels});
    m_gsensor->SetEvents(m_events, plan->rangeStart, plan->rangeEnd);
    m_io->SetEvents(m_events, plan->rangeStart, plan->rangeEnd);
    return true;
}

bool CRKDrivingRecord::PlayOneRecordFile(const std::string& path, std::string* error)
{
    APP_TRACE(1, "strFilePath:%s", path.c_str());
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        // Folder play: every file of the folder in turn, in one window.
        m_play->ClearMapLine();
        m_speed->Clear();
        m_graphBase = 0;
        return m_play->PlayDirectoryFiles(path, error);
    }
    if (SingleFilePlayType(path) == EPlayType::kContainerFile) APP_TRACE(1, "SetPlayType");
    SetSingleFileGUIInfo(path);
    m_play->ClearMapLine();
    m_speed->Clear();
    m_graphBase = 0;
    return m_play->PlayOneRecordFile(path, error);
}

void CRKDrivingRecord::SetSingleFileGUIInfo(const std::string& path)
{
    if (!ShowsOnTimeline(path)) return;
    if (path.find('/') == std::string::npos) {
        APP_TRACE(1, "g_Command:%s", path.c_str());
        return;
    }
    if (m_info) m_info->clear();
    m_timeline->Clear();
    SearchRequest request;
    request.source = ESearchSource::kSingleFile;
    request.path = path;
    SearchOutcome outcome = RunSearch(request, {}, nullptr);
    if (!outcome.ok) {
        APP_TRACE(1, "SearchSingleRecordFile Fail");
        return;
    }
    m_result = std::move(outcome.result);
    m_events.clear();
    m_source = outcome.source;
    m_sourceKind = outcome.kind;
    m_day = 0;
    m_storage->hide();
    const std::set<int> days = DaysWithRecords(m_result);
    m_calendar->SetMarkedDays(days);
    if (!days.empty()) ShowOneDayIFVInfoToTimeline(*days.begin());
}

void CRKDrivingRecord::OnAttach(const StAttachInfo_t& info, const MapScripts* scripts)
{
    if (scripts)
        for (const std::string* s : {&scripts->move, &scripts->carInfo, &scripts->history})
            if (!s->empty()) m_map->RunScript(*s);
    const uint32_t second = info.time.get();
    if (!m_graphBase) m_graphBase = second;
    if (second < m_graphBase) return;
    m_speed->AddPoint(double(second - m_graphBase), double(info.speed.get()));
}

MapPageOptions CRKDrivingRecord::MapOptionsOf(const SettingsRecord& s)
{
    MapPageOptions map;
    map.mapType = s.mapType;
    map.language = s.language;
    map.googleKey = s.googleKey;
    map.gstFile = s.gstFile;
    map.convertGps = s.convertGps != 0;
    return map;
}

void CRKDrivingRecord::OnSettingsChanged(const SettingsRecord& before, const SettingsRecord& now)
{
    if (before.convertGps != now.convertGps) SetConvertGps(now.convertGps != 0);
    // A new map, key or tile file loads the page again; the language picks
    // among the pages of one map.
    if (before.mapType != now.mapType || before.googleKey != now.googleKey || before.gstFile != now.gstFile ||
        (now.mapType == 1 && before.language != now.language))
        m_map->LoadMapPage(MapOptionsOf(now));
}

void CRKDrivingRecord::SetConvertGps(bool convert)
{
    m_map->RunScript(convert ? "SetConvertCoorFlag(0)" : "SetConvertCoorFlag(1)");
}

std::optional<CutSource> CRKDrivingRecord::CurrentCutSource() const
{
    const auto start = m_day ? DayStart(m_day) : std::nullopt;
    if (!start || m_result.empty()) return std::nullopt;
    CutSource cut;
    cut.kind = m_sourceKind;
    cut.path = m_source.singleFile.empty() ? m_source.folder : m_source.singleFile;
    const auto [from, to] = m_timeline->MarkedRange();
    cut.from = *start + uint32_t(std::clamp(from, 0, 86400));
    cut.to = *start + uint32_t(std::clamp(to, 0, 86400));
    for (const auto& [channel, c] : m_result)
        for (const WorkRecord& r : c.records)
            if (r.record.beginTime.get() <= cut.to && r.record.endTime.get() >= cut.from) {
                cut.channels.push_back(channel);
                break;
            }
    return cut;
}

bool CRKDrivingRecord::MarkRange(uint32_t from, uint32_t to)
{
    const int day = DayOf(from);
    if (day != m_day && !ShowOneDayIFVInfoToTimeline(day)) return false;
    const auto start = DayStart(day);
    if (!start) return false;
    const auto ofDay = [&](uint32_t t) { return int(std::min<uint64_t>(t - std::min(t, *start), 86400)); };
    m_timeline->SetMarkedRange(ofDay(from), ofDay(to));
    return true;
}

void CRKDrivingRecord::OpenCutDialog()
{
    const auto source = CurrentCutSource();
    if (!source || source->channels.empty()) {
        APP_TRACE(1, "CutFileSize=0");
        m_host.Message(this, source ? "Cut_CHN_Error" : "Cut_Time_Error");
        return;
    }
    CCutDlg dlg(m_host, *source, m_cutFolder ? m_cutFolder() : std::filesystem::path(), this);
    dlg.SetConvertGps(m_settings.Snapshot()->convertGps != 0);
    dlg.SetSpeedMph(m_settings.Snapshot()->speedMph != 0);
    dlg.SetCaseUtcOffset(m_settings.Snapshot()->caseUtcOffset);
    dlg.exec();
}

void CRKDrivingRecord::dragEnterEvent(QDragEnterEvent* event)
{
    if (!LastLocalFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CRKDrivingRecord::dropEvent(QDropEvent* event)
{
    const QString file = LastLocalFile(event->mimeData());
    if (file.isEmpty()) return;
    event->acceptProposedAction();
    std::string error;
    if (!PlayOneRecordFile(file.toStdString(), &error))
        m_host.TellOpenFailed(this, file.toStdString(), error);
}

}  // namespace velmor
