#include "player/app/WorkspaceCommands.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QTimer>

#include "player/app/ControlServer.h"
#include "player/app/MainFrame.h"
#include "player/workspace/DrivingRecord.h"
#include "player/workspace/Graphs.h"
#include "player/workspace/TimelineWnd.h"

namespace velmor {
namespace {

constexpr int kSearchLimitMs = 10 * 60 * 1000;

QJsonObject SearchData(const CRKDrivingRecord& page)
{
    QJsonArray days;
    for (int day : page.Days()) days.append(QString::fromStdString(DayText(day)));
    return QJsonObject{{"days", days}, {"records", double(RecordCount(page.Result()))}};
}

// SOURCE: "disk" or "disk:NAME" for a recorder disk, else a folder or a file.
bool ParseSearch(const QJsonArray& args, SearchRequest* request, ETypeFilter* types,
                 std::optional<uint32_t>* channels, QString* error)
{
    if (args.size() < 1 || args.size() > 2 || !args[0].isString() || (args.size() == 2 && !args[1].isObject())) {
        *error = "search takes a source and optionally an object of options";
        return false;
    }
    const QString source = args[0].toString();
    const QJsonObject options = args.size() == 2 ? args[1].toObject() : QJsonObject();
    for (auto it = options.begin(); it != options.end(); ++it)
        if (it.key() != "types" && it.key() != "client" && it.key() != "channels") {
            *error = "unknown search option " + it.key();
            return false;
        }
    const QString typeText = options.value("types").toString("all");
    if (typeText != "all" && typeText != "alarm" && typeText != "normal") {
        *error = "types is \"all\", \"normal\" or \"alarm\"";
        return false;
    }
    *types = typeText == "alarm" ? ETypeFilter::kAlarm : typeText == "normal" ? ETypeFilter::kNormal : ETypeFilter::kAll;
    if (options.contains("client") && !options.value("client").isBool()) {
        *error = "client is true or false";
        return false;
    }
    if (options.contains("channels")) {
        if (!options.value("channels").isArray()) {
            *error = "channels is a list of 1..16";
            return false;
        }
        uint32_t mask = 0;
        for (const QJsonValue& v : options.value("channels").toArray()) {
            const double c = v.toDouble(-1);
            if (!v.isDouble() || c != double(int(c)) || c < 1 || c > 16) {
                *error = "channels is a list of 1..16";
                return false;
            }
            mask |= 1u << (int(c) - 1);
        }
        *channels = mask;
    }
    if (source == "disk" || source.startsWith("disk:")) {
        request->source = ESearchSource::kRecorderDisk;
        request->path = source.mid(5).toStdString();
        return true;
    }
    request->path = source.toStdString();
    std::error_code ec;
    if (std::filesystem::is_regular_file(request->path, ec))
        request->source = ESearchSource::kSingleFile;
    else
        request->source = options.value("client").toBool() ? ESearchSource::kClientFolder : ESearchSource::kFolder;
    return true;
}

CControlResult Search(CRKDrivingRecord& page, const QJsonArray& args)
{
    SearchRequest request;
    ETypeFilter types = ETypeFilter::kAll;
    std::optional<uint32_t> channels;
    QString error;
    if (!ParseSearch(args, &request, &types, &channels, &error)) return CControlResult::Fail(error);
    // The user's steps: the type box, the source, the search button.
    page.SetTypeFilter(types);
    page.ChooseSource(request.source, request.path.string());
    std::optional<SearchOutcome> outcome;
    QEventLoop loop;
    // Told once per search; later searches find the loop gone.
    auto alive = std::make_shared<bool>(true);
    page.AddOnSearchDone([&outcome, &loop, alive](const SearchOutcome& o) {
        if (!*alive || outcome) return;
        outcome = o;
        loop.quit();
    });
    std::string why;
    if (!page.SearchRecordFile(channels, &why)) {
        *alive = false;
        return CControlResult::Fail(QString::fromStdString(why));
    }
    QTimer::singleShot(kSearchLimitMs, &loop, &QEventLoop::quit);
    loop.exec();
    *alive = false;
    if (!outcome) return CControlResult::Fail("the search did not end in time");
    if (!outcome->ok) return CControlResult::Fail(QString::fromStdString(outcome->error));
    return CControlResult{"success", SearchData(page)};
}

CControlResult Day(CRKDrivingRecord& page, const QJsonArray& args)
{
    const auto day = args.size() == 1 && args[0].isString() ? ParseDay(args[0].toString().toStdString()) : std::nullopt;
    if (!day) return CControlResult::Fail("day takes \"YYYY-MM-DD\"");
    if (!page.ShowOneDayIFVInfoToTimeline(*day)) return CControlResult::Fail("no recording on that day");
    QJsonArray rows;
    for (const auto& row : page.CurrentRows()) {
        QJsonArray bars;
        for (const DayBar& b : row) bars.append(QJsonObject{{"begin", double(b.begin)}, {"end", double(b.end)}});
        rows.append(bars);
    }
    return CControlResult{"success", rows};
}

CControlResult PlayAtCommand(CRKDrivingRecord& page, const QJsonArray& args)
{
    const auto t = args.size() == 1 && args[0].isString() ? ParseDayTime(args[0].toString().toStdString())
                                                          : std::nullopt;
    if (!t) return CControlResult::Fail("play_at takes \"YYYY-MM-DD hh:mm:ss\"");
    const int day = DayOf(*t);
    // The user clicks the day first when another is shown, then double
    // clicks the timeline at that second.
    if (page.CurrentDay() != day && !page.ShowOneDayIFVInfoToTimeline(day))
        return CControlResult::Fail("no recording on that day");
    const int second = int(*t - *DayStart(day));
    page.Timeline()->SetCursorTime(second);
    std::string error;
    if (!page.OnDbClilcKTimeLine(second, &error)) return CControlResult::Fail(QString::fromStdString(error));
    return {};
}

}  // namespace

QJsonObject MapPageJson(CRKDrivingRecord& page)
{
    QJsonArray scripts;
    for (const std::string& s : page.MapPage()->Scripts()) scripts.append(QString::fromStdString(s));
    return QJsonObject{{"loaded", page.MapPage()->Loaded()},
                       {"page", QString::fromStdString(page.MapPage()->Page())},
                       {"scripts", scripts}};
}

QJsonObject SpeedGraphJson(CRKDrivingRecord& page)
{
    QJsonArray points;
    for (const auto& [x, y] : page.SpeedGraph()->Points()) points.append(QJsonArray{x, y});
    const auto [low, high] = page.SpeedGraph()->Range();
    return QJsonObject{{"points", points}, {"range", QJsonArray{low, high}}};
}

void PushSearchEvents(CControlServer& control, CRKDrivingRecord& page)
{
    page.AddOnSearchDone([&control, &page](const SearchOutcome& o) {
        QJsonObject fields = SearchData(page);
        if (!o.ok) fields["error"] = QString::fromStdString(o.error);
        control.PushEvent("search-done", fields);
    });
}

void AddWorkspaceCommands(CControlServer& control, CRKDrivingRecord& page)
{
    control.AddCommand("search", [p = &page](const QJsonArray& a) { return Search(*p, a); });
    control.AddCommand("day", [p = &page](const QJsonArray& a) { return Day(*p, a); });
    control.AddCommand("play_at", [p = &page](const QJsonArray& a) { return PlayAtCommand(*p, a); });
}

}  // namespace velmor
