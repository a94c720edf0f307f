#include "player/playback/PlayToolWnd.h"

#include <QLabel>
#include <QVBoxLayout>

#include "player/ui/UiHost.h"
#include "player/playback/PlayVideoWnd.h"
#include "player/playback/StreamRules.h"

namespace velmor {

namespace {

constexpr const char* kLabelNames[] = {"Resolving", "Audio", "Frame", "VideoFormat"};

}  // namespace

CPlayToolWnd::CPlayToolWnd(CUiHost& host, int index, QWidget* parent) : QWidget(parent)
{
    setObjectName(QString("PLAYTOOLWND_%1").arg(index));
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    QWidget* body = host.Load("PlayToolWnd", this);
    body->setObjectName(QString("PLAYTOOLWND_Body_%1").arg(index));
    box->addWidget(body);
    // Sixteen strips live in one window: the names carry the window's number.
    for (size_t k = 0; k < m_labels.size(); ++k) {
        const QString name = QString("PLAYTOOLWND_%1").arg(kLabelNames[k]);
        QLabel* label = CUiHost::Find<QLabel>(body, name);
        if (!label) {
            // A layout without the label still shows the text.
            label = new QLabel(body);
            if (body->layout()) body->layout()->addWidget(label);
        }
        label->setObjectName(QString("%1_%2").arg(name).arg(index));
        m_labels[k] = label;
    }
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    hide();
}

QStringList CPlayToolWnd::Texts(const CUiHost& host, const WindowStreamInfo& info)
{
    if (info.width == 0 || info.height == 0) return {"", "", "", ""};
    const char* audio = info.audioType >= 0 ? AudioTypeName(info.audioType) : nullptr;
    return {host.Text("Record_Tool_Resolving") + QString::asprintf("%dx%d", info.width, info.height),
            host.Text("Record_Tool_Audio") + (audio ? QString(audio) : host.Text("Record_Tool_AudioNo")),
            host.Text("Record_Tool_Frame") + QString::number(info.frameRate),
            host.Text("Record_Tool_VideoFormat") + (info.h265 ? "H.265" : "H.264")};
}

void CPlayToolWnd::SetTexts(const QStringList& texts)
{
    for (size_t k = 0; k < m_labels.size(); ++k) m_labels[k]->setText(k < size_t(texts.size()) ? texts[int(k)] : "");
}

QStringList CPlayToolWnd::Texts() const
{
    QStringList texts;
    for (const QLabel* l : m_labels) texts << l->text();
    return texts;
}

}  // namespace velmor
