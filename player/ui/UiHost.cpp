#include "player/ui/UiHost.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QUiLoader>

#include <filesystem>

#include "common/LanguageTable.h"
#include "player/ui/AppTrace.h"

namespace velmor {

CUiHost::CUiHost(QString skinDir, const CLanguageTable* language) : m_skinDir(std::move(skinDir)), m_language(language) {}

QWidget* CUiHost::Load(const QString& baseName, QWidget* parent)
{
    const QString path = m_skinDir + "/" + baseName + ".ui";
    QFile file(path);
    QWidget* w = nullptr;
    if (file.open(QIODevice::ReadOnly)) {
        QUiLoader loader;
        w = loader.load(&file, parent);
    }
    if (!w) {
        APP_TRACE(1, "m_xmlPath:%s xml load fail", path.toUtf8().constData());
        w = new QWidget(parent);
        w->setObjectName(baseName);
    }
    Relabel(w);
    return w;
}

void CUiHost::Route(QWidget* root, Notify notify)
{
    auto named = root->findChildren<QWidget*>();
    for (QWidget* w : named) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith("qt_")) continue;
        auto send = [notify, name](const char* what) { return [notify, name, what] { notify(name, what); }; };
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            QObject::connect(b, &QAbstractButton::clicked, root, send("click"));
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            QObject::connect(c, &QComboBox::currentIndexChanged, root, send("selectchanged"));
        } else if (auto* t = qobject_cast<QTabWidget*>(w)) {
            QObject::connect(t, &QTabWidget::currentChanged, root, send("selectchanged"));
        } else if (auto* s = qobject_cast<QAbstractSlider*>(w)) {
            QObject::connect(s, &QAbstractSlider::valueChanged, root, send("valuechanged"));
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            QObject::connect(e, &QLineEdit::textChanged, root, send("textchanged"));
        } else if (auto* d = qobject_cast<QDateTimeEdit*>(w)) {
            QObject::connect(d, &QDateTimeEdit::dateTimeChanged, root, send("valuechanged"));
        } else if (auto* tw = qobject_cast<QTreeWidget*>(w)) {
            QObject::connect(tw, &QTreeWidget::itemSelectionChanged, root, send("selectchanged"));
            QObject::connect(tw, &QTreeWidget::itemDoubleClicked, root, send("dbclick"));
        } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
            QObject::connect(lw, &QListWidget::itemSelectionChanged, root, send("selectchanged"));
            QObject::connect(lw, &QListWidget::itemDoubleClicked, root, send("dbclick"));
        } else if (auto* tb = qobject_cast<QTableWidget*>(w)) {
            QObject::connect(tb, &QTableWidget::itemSelectionChanged, root, send("selectchanged"));
            QObject::connect(tb, &QTableWidget::itemDoubleClicked, root, send("dbclick"));
        }
    }
    notify(root->objectName(), "windowinit");
}

QString CUiHost::Text(const char* key) const
{
    if (!m_language) return {};
    return QString::fromStdString(m_language->Text(key));
}

void CUiHost::Relabel(QWidget* root) const
{
    auto widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        const QVariant key = w->property("langKey");
        if (key.isValid()) {
            const QString text = Text(key.toString());
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                b->setText(text);
            else if (auto* l = qobject_cast<QLabel*>(w))
                l->setText(text);
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                g->setTitle(text);
            if (w->isWindow()) w->setWindowTitle(text);
        }
        const QVariant tip = w->property("langTip");
        if (tip.isValid()) w->setToolTip(Text(tip.toString()));
        // Glyph buttons: the name read out by assistive tools.
        const QVariant name = w->property("langName");
        if (name.isValid()) w->setAccessibleName(Text(name.toString()));
        const QVariant items = w->property("langItems");
        if (auto* c = qobject_cast<QComboBox*>(w); c && items.isValid()) {
            const QStringList keys = items.toString().split(',', Qt::SkipEmptyParts);
            const QSignalBlocker block(c);
            for (int i = 0; i < keys.size(); ++i) {
                if (i < c->count())
                    c->setItemText(i, Text(keys[i].trimmed()));
                else
                    c->addItem(Text(keys[i].trimmed()));
            }
        }
        if (auto* tw = qobject_cast<QTableWidget*>(w)) {
            const QVariant cols = w->property("langColumns");
            if (cols.isValid()) {
                const QStringList keys = cols.toString().split(',', Qt::SkipEmptyParts);
                tw->setColumnCount(std::max<int>(tw->columnCount(), int(keys.size())));
                QStringList labels;
                for (const auto& k : keys) labels << Text(k.trimmed());
                tw->setHorizontalHeaderLabels(labels);
            }
        }
        if (auto* tab = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < tab->count(); ++i) {
                const QVariant tabKey = tab->widget(i)->property("langTab");
                if (tabKey.isValid()) tab->setTabText(i, Text(tabKey.toString()));
            }
        }
    }
}

QMessageBox::StandardButton CUiHost::Message(QWidget* parent, const char* key, QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    return MessageText(parent, Text(key), buttons, defaultButton);
}

QMessageBox::StandardButton CUiHost::MessageText(QWidget* parent, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton)
{
    const QString caption = Text("Main_Msg_ClueOn");
    if (m_messageHook) {
        m_messageHook(caption, text);
        return defaultButton;
    }
    QMessageBox box(QMessageBox::Information, caption, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void CUiHost::TellOpenFailed(QWidget* parent, const std::string& path, const std::string& reason)
{
    APP_TRACE(1, "%s: %s", path.c_str(), reason.c_str());
    const std::string name = std::filesystem::path(path).filename().string();
    MessageText(parent, Text("PlayBack_Msg_OpenFail") + " " + QString::fromStdString(name.empty() ? path : name));
}

QString CUiHost::QtFilter(const QString& filter)
{
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) continue;
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        QString label = parts[i];
        // "csv File (*.csv)" already names its patterns; Qt reads them from the brackets.
        if (!label.contains('(')) label += " (" + patterns + ")";
        out << label;
    }
    return out.join(";;");
}

QString CUiHost::ChooseSaveFile(QWidget* parent, const QString& filter, const QString& defaultExt, QString* chosenFilter)
{
    if (auto answer = TakeChooserAnswer()) return *answer;
    QFileDialog dlg(parent);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilter(QtFilter(filter));
    dlg.setDefaultSuffix(defaultExt.startsWith('.') ? defaultExt.mid(1) : defaultExt);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    if (chosenFilter) *chosenFilter = dlg.selectedNameFilter();
    return dlg.selectedFiles().first();
}

std::optional<QString> CUiHost::TakeChooserAnswer()
{
    std::optional<QString> answer;
    answer.swap(m_chooserAnswer);
    return answer;
}

QString CUiHost::ChooseOpenFile(QWidget* parent, const QString& filter)
{
    if (auto answer = TakeChooserAnswer()) return *answer;
    return QFileDialog::getOpenFileName(parent, QString(), QString(), QtFilter(filter));
}

QString CUiHost::ChooseFolder(QWidget* parent, const QString& start)
{
    if (auto answer = TakeChooserAnswer()) return *answer;
    return QFileDialog::getExistingDirectory(parent, Text("Record_Label_SelDir"), start);
}

QTimer* CUiHost::SetTimer(QWidget* owner, int id, int periodMs, std::function<void()> fn)
{
    KillTimer(owner, id);
    auto* t = new QTimer(owner);
    t->setInterval(periodMs);
    QObject::connect(t, &QTimer::timeout, owner, std::move(fn));
    QObject::connect(t, &QObject::destroyed, [this, owner, id] { m_timers.erase({owner, id}); });
    m_timers[{owner, id}] = t;
    t->start();
    return t;
}

void CUiHost::KillTimer(QWidget* owner, int id)
{
    auto it = m_timers.find({owner, id});
    if (it == m_timers.end()) return;
    QTimer* t = it->second;
    m_timers.erase(it);
    t->stop();
    t->deleteLater();
}

void CUiHost::Post(QObject* owner, std::function<void()> fn)
{
    QMetaObject::invokeMethod(owner, std::move(fn), Qt::QueuedConnection);
}

}  // namespace velmor
