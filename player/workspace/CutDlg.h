// The cut dialog: the marked span, the channels, the format, the combined
// picture and the folder, checked and handed to the export job on a worker
// thread while a progress window shows how far it is and lets the user stop
// it. Layouts skin/CutDlg.ui and skin/CutProgress.ui. The control socket's
// "cut" command fills the same controls and goes through Start() too.
#pragma once

#include <QDialog>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "player/ui/UiHost.h"
#include "player/export/ExportJob.h"
#include "player/workspace/CutPlan.h"

class QLabel;
class QProgressBar;

namespace velmor {

class CCutProgress : public QDialog {
public:
    CCutProgress(CUiHost& host, QWidget* parent = nullptr);
    // Below 100 while the export runs; 100 only for a finished export.
    void SetPercent(int percent);
    int Percent() const { return m_percent; }
    // The close button, after the user confirmed "Cut_Msg_Cancel".
    void SetOnStop(std::function<void()> fn) { m_onStop = std::move(fn); }
    // What the close button does.
    void AskStop();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    CUiHost& m_host;
    QWidget* m_root;
    int m_percent = 0;
    bool m_closing = false;
    std::function<void()> m_onStop;
};

class CCutDlg : public QDialog {
public:
    CCutDlg(CUiHost& host, CutSource source, std::filesystem::path defaultFolder, QWidget* parent = nullptr);
    ~CCutDlg() override;  // stops a running export and waits for its thread

    // The controls, as the user or a command sets them.
    void SetRange(uint32_t from, uint32_t to);
    void SetChannels(const std::vector<int>& channels);  // boxes of channels without recordings stay clear
    void SetFormat(EExportFormat format);
    void SetWithAudio(bool on);
    void SetCombine(bool on);
    void SetOverlay(bool on);
    void SetFolder(const std::filesystem::path& folder);
    // GPS exports correct their positions with the grid (setting ConvertGPS).
    void SetConvertGps(bool convert) { m_convertGps = convert; }
    void SetSpeedMph(bool mph) { m_speedMph = mph; }
    // The report states this offset from UTC for the case (setting CaseUtcOffset).
    void SetCaseUtcOffset(std::string offset) { m_caseUtcOffset = std::move(offset); }
    void SetType(int type) { m_type = type; }
    CutChoice Choice() const;
    // Channels whose boxes can be ticked.
    std::vector<int> EnabledChannels() const;

    // What OK does: the checks (a refusal shows its message and returns
    // false), then the export on a worker thread with the progress window.
    bool Start();
    // Stops a running export; its outputs are removed.
    void Cancel();
    bool Running() const { return m_worker.joinable() && !m_finished; }
    bool Finished() const { return m_finished; }
    const ExportJobResult& Result() const { return m_result; }
    const std::string& RefusalKey() const { return m_refusal; }
    CCutProgress* ProgressWindow() const { return m_progress.get(); }
    // Whether Start() shows the progress window (a command runs without it on screen).
    void SetShowProgress(bool on) { m_showProgress = on; }
    // Whether the final message box is shown.
    void SetShowFinalMessage(bool on) { m_showFinal = on; }

    void SetOnProgress(std::function<void(int percent)> fn) { m_onProgress = std::move(fn); }
    void SetOnDone(std::function<void(const ExportJobResult&)> fn) { m_onDone = std::move(fn); }

    // Processes events until the export ends or `timeoutMs` passes; true when it ended.
    bool WaitDone(int timeoutMs);

    void OnNotify(const QString& control, const QString& notification);
    QWidget* Root() const { return m_root; }

private:
    void OnFinished(ExportJobResult result);
    void SetAllChannels(bool on);

    CUiHost& m_host;
    CutSource m_source;
    QWidget* m_root;
    int m_type = 0;
    bool m_showProgress = true;
    bool m_showFinal = true;
    std::unique_ptr<CCutProgress> m_progress;
    std::unique_ptr<CExportJob> m_job;
    std::thread m_worker;
    bool m_finished = false;
    ExportJobResult m_result;
    std::string m_refusal;
    std::function<void(int)> m_onProgress;
    std::function<void(const ExportJobResult&)> m_onDone;
    bool m_convertGps = false;
    bool m_speedMph = false;
    std::string m_caseUtcOffset;
};

}  // namespace velmor
