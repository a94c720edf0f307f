#include "player/app/VerifyExport.h"

#include <QEventLoop>
#include <QMetaObject>

#include <thread>

#include "player/ui/UiHost.h"

namespace velmor {

ReportCheck VerifyWhileResponsive(const std::filesystem::path& report)
{
    ReportCheck check;
    QEventLoop loop;
    // Hashing a large export takes seconds; the windows are not to freeze meanwhile.
    std::thread worker([&] {
        check = VerifyReport(report);
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return check;
}

QString VerifyMessageText(const CUiHost& host, const std::filesystem::path& report, const ReportCheck& check)
{
    if (!check.readable)
        return host.Text("Verify_Msg_Unreadable") + "\n" + QString::fromStdString(report.string() + ": " + check.error);
    QString text;
    if (check.ok)
        text = host.Text(check.signature == ESignatureCheck::kUnsigned ? "Verify_Msg_Unsigned" : "Verify_Msg_Ok");
    else
        text = host.Text("Verify_Msg_Fail");
    // Every finding, up to a box's worth; the rest are counted.
    constexpr size_t kShown = 12;
    for (size_t i = 0; i < check.findings.size() && i < kShown; ++i)
        text += "\n" + QString::fromStdString(check.findings[i].subject + ": " + check.findings[i].what);
    if (check.findings.size() > kShown) text += QString("\n(+%1)").arg(check.findings.size() - kShown);
    if (!check.keyFingerprint.empty())
        text += "\n" + host.Text("Verify_Label_Key") + " " + QString::fromStdString(check.keyFingerprint);
    return text;
}

}  // namespace velmor
