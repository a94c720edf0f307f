// What the pages need from the toolkit, in one place: windows loaded from
// the skin's .ui files, controls found by name, notifications routed by
// control and notification name, captions from the language table, message
// boxes, file and folder choosers, timers and calls queued from workers.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <vector>

class QTimer;

namespace velmor {

class CLanguageTable;

class CUiHost {
public:
    using Notify = std::function<void(const QString& control, const QString& notification)>;
    // A message box answered without being shown: the control socket sets it.
    using MessageHook = std::function<void(const QString& caption, const QString& text)>;

    CUiHost(QString skinDir, const CLanguageTable* language);

    // Loads skin/<baseName>.ui; a missing or broken layout is traced and
    // gives an empty widget, so the window stays empty rather than absent.
    QWidget* Load(const QString& baseName, QWidget* parent = nullptr);

    // Routes the notifications of every named control under `root` to
    // `notify`, then sends "windowinit" for the root itself.
    void Route(QWidget* root, Notify notify);

    template <class T = QWidget>
    static T* Find(QWidget* root, const QString& name)
    {
        if (!root) return nullptr;
        if (root->objectName() == name) return qobject_cast<T*>(root);
        return root->findChild<T*>(name);
    }

    // The text of a key in the language in force.
    QString Text(const char* key) const;
    QString Text(const QString& key) const { return Text(key.toUtf8().constData()); }

    // Sets every caption under `root` from the language table: the dynamic
    // properties "langKey" (text, title or window title), "langTip"
    // (tooltip) and "langItems" (combo box entries, keys joined by ',').
    void Relabel(QWidget* root) const;

    // A message box with caption Main_Msg_ClueOn and the text of `key` (or
    // a ready text). With a hook set it is answered with `defaultButton`.
    QMessageBox::StandardButton Message(QWidget* parent, const char* key,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::Ok);
    QMessageBox::StandardButton MessageText(QWidget* parent, const QString& text,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                            QMessageBox::StandardButton defaultButton = QMessageBox::Ok);
    void SetMessageHook(MessageHook hook) { m_messageHook = std::move(hook); }
    // A file that cannot be played: the language text with the file's name;
    // the reason, in the program's words, goes to the trace.
    void TellOpenFailed(QWidget* parent, const std::string& path, const std::string& reason);

    // "csv File (*.csv)|*.csv|txt File (*.txt)|*.txt|" as a Qt filter.
    static QString QtFilter(const QString& filter);
    QString ChooseSaveFile(QWidget* parent, const QString& filter, const QString& defaultExt, QString* chosenFilter = nullptr);
    QString ChooseOpenFile(QWidget* parent, const QString& filter);
    QString ChooseFolder(QWidget* parent, const QString& start);
    // The next file or folder chooser is answered with `path` without being
    // shown: the control socket clicks the same button the user does and
    // makes the choice for it.
    void AnswerNextChooser(QString path) { m_chooserAnswer = std::move(path); }

    // A timer of `owner` with an id, as the pages' timers are addressed.
    QTimer* SetTimer(QWidget* owner, int id, int periodMs, std::function<void()> fn);
    void KillTimer(QWidget* owner, int id);

    // Runs `fn` on the thread of `owner` (the user-interface thread), from any thread.
    static void Post(QObject* owner, std::function<void()> fn);

    void SetLanguage(const CLanguageTable* language) { m_language = language; }
    const CLanguageTable* Language() const { return m_language; }

private:
    std::optional<QString> TakeChooserAnswer();

    QString m_skinDir;
    const CLanguageTable* m_language;
    MessageHook m_messageHook;
    std::optional<QString> m_chooserAnswer;
    std::map<std::pair<QWidget*, int>, QTimer*> m_timers;
};

}  // namespace velmor
