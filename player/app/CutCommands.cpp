#include "player/app/CutCommands.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>

#include "player/app/ControlServer.h"
#include "player/ui/UiHost.h"
#include "player/workspace/CutDlg.h"

namespace velmor {
namespace {

bool Seconds(const QJsonValue& v, uint32_t* out)
{
    if (!v.isDouble()) return false;
    const double d = v.toDouble();
    if (d != double(int64_t(d)) || d < 0 || d > double(UINT32_MAX)) return false;
    *out = uint32_t(d);
    return true;
}

QJsonArray FileList(const ExportJobResult& r)
{
    QJsonArray files;
    for (const auto& f : r.files) files.append(QString::fromStdString(f.string()));
    return files;
}

CControlResult Cut(const QJsonArray& args, CControlServer& control, CUiHost& host,
                   const std::function<std::optional<CutSource>()>& currentSource,
                   const std::function<std::filesystem::path()>& saveFolder,
                   const std::function<void(uint32_t, uint32_t)>& markRange,
                   const std::function<bool()>& convertGps, const std::function<std::string()>& caseUtcOffset)
{
    if (args.size() != 1 || !args[0].isObject()) return CControlResult::Fail("the command takes one object");
    const QJsonObject o = args[0].toObject();
    for (const QString& key : o.keys())
        if (key != "from" && key != "to" && key != "channels" && key != "format" && key != "combine" &&
            key != "overlay")
            return CControlResult::Fail("unknown field " + key);
    uint32_t from = 0, to = 0;
    if (!Seconds(o.value("from"), &from) || !Seconds(o.value("to"), &to))
        return CControlResult::Fail("from and to must be whole seconds");
    EExportFormat format = EExportFormat::kMp4;
    if (o.contains("format")) {
        if (!o.value("format").isString() || !ParseExportFormat(o.value("format").toString().toStdString(), format) ||
            CutFormatIndex(format) < 0)
            return CControlResult::Fail("format must be ifv, mp4, avi, gps, gpx or rkrec");
    }
    if (o.contains("combine") && !o.value("combine").isBool()) return CControlResult::Fail("combine must be true or false");
    if (o.contains("overlay") && !o.value("overlay").isBool()) return CControlResult::Fail("overlay must be true or false");
    if (markRange && from < to) markRange(from, to);
    std::optional<CutSource> source = currentSource ? currentSource() : std::nullopt;
    if (!source) return CControlResult::Fail("no recording is shown");
    std::vector<int> channels = source->channels;
    if (o.contains("channels")) {
        if (!o.value("channels").isArray()) return CControlResult::Fail("channels must be a list of numbers");
        channels.clear();
        for (const QJsonValue& c : o.value("channels").toArray()) {
            if (!c.isDouble() || c.toDouble() != double(int(c.toDouble())) || c.toInt() < 1 || c.toInt() > 16)
                return CControlResult::Fail("channels are numbers from 1 to 16");
            channels.push_back(c.toInt());
        }
    }

    CCutDlg dlg(host, *source, saveFolder ? saveFolder() : std::filesystem::path());
    dlg.SetRange(from, to);
    dlg.SetChannels(channels);
    dlg.SetFormat(format);
    dlg.SetCombine(o.value("combine").toBool(false));
    dlg.SetOverlay(o.value("overlay").toBool(false));
    dlg.SetConvertGps(convertGps && convertGps());
    if (caseUtcOffset) dlg.SetCaseUtcOffset(caseUtcOffset());
    QEventLoop loop;
    dlg.SetOnProgress([&control](int percent) { control.PushEvent("cut-progress", QJsonObject{{"percent", percent}}); });
    dlg.SetOnDone([&](const ExportJobResult& r) {
        control.PushEvent("cut-done", QJsonObject{{"ok", r.ok},
                                                  {"files", FileList(r)},
                                                  {"error", QString::fromStdString(r.error)}});
        loop.quit();
    });
    // The dialog's own OK: a refusal shows its message, which the socket answers.
    if (!dlg.Start()) return CControlResult::Fail(host.Text(dlg.RefusalKey().c_str()));
    if (!dlg.Finished()) loop.exec();
    const ExportJobResult& r = dlg.Result();
    if (!r.ok) return CControlResult::Fail(QString::fromStdString(r.error.empty() ? "the export failed" : r.error));
    return {"success", QJsonObject{{"files", FileList(r)}}};
}

}  // namespace

void AddCutCommands(CControlServer& control, CUiHost& host, std::function<std::optional<CutSource>()> currentSource,
                    std::function<std::filesystem::path()> saveFolder,
                    std::function<void(uint32_t, uint32_t)> markRange, std::function<bool()> convertGps,
                    std::function<std::string()> caseUtcOffset)
{
    control.AddCommand("cut", [&control, &host, currentSource = std::move(currentSource),
                               saveFolder = std::move(saveFolder), markRange = std::move(markRange),
                               convertGps = std::move(convertGps),
                               caseUtcOffset = std::move(caseUtcOffset)](const QJsonArray& args) {
        return Cut(args, control, host, currentSource, saveFolder, markRange, convertGps, caseUtcOffset);
    });
}

}  // namespace velmor
