#include "player/playback/AudioDlgs.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QSlider>

#include "player/ui/UiHost.h"
#include "player/playback/EqualizerText.h"
#include "player/playback/PlayClock.h"

namespace velmor {
namespace {

// A layout that cannot be loaded still gives a window: the controls that
// are missing are simply not there.
QDialog* LoadDialog(CUiHost& host, const char* layout, QWidget* parent)
{
    QWidget* w = host.Load(layout, parent);
    auto* dlg = qobject_cast<QDialog*>(w);
    if (!dlg) {
        PLAY_TRACE("m_xmlPath:%s xml load fail", layout);
        delete w;
        dlg = new QDialog(parent);
    }
    dlg->setModal(false);
    dlg->setWindowFlag(Qt::Tool);
    return dlg;
}

}  // namespace

CVoiceDlg::CVoiceDlg(CUiHost& host, QWidget* parent, Changed changed, std::function<void()> openEqualizer)
    : m_changed(std::move(changed))
{
    m_dialog = LoadDialog(host, "VoiceSetting", parent);
    m_slider = CUiHost::Find<QSlider>(m_dialog, "voicesetting_sliderVol");
    m_label = CUiHost::Find<QLabel>(m_dialog, "voicesetting_LabelVol");
    host.Relabel(m_dialog);
    host.Route(m_dialog, [this, openEqualizer](const QString& c, const QString& n) {
        if (c == "voicesetting_sliderVol" && n == "valuechanged" && m_slider) {
            SetVolume(m_slider->value());
        } else if (n == "click" && c == "voicesetting_btnVolumeZero") {
            SetVolume(0);
        } else if (n == "click" && c == "voicesetting_btnVolume") {
            // Sound back at the level it had before it was switched off.
            SetVolume(m_slider && m_slider->value() > 0 ? m_slider->value() : m_lastNonZero);
        } else if (n == "click" && c == "voicesetting_btnEqualize" && openEqualizer) {
            openEqualizer();
        }
    });
}

CVoiceDlg::~CVoiceDlg() { delete m_dialog; }

void CVoiceDlg::Show(QWidget* anchor, int volume)
{
    if (m_slider) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(volume);
    }
    if (m_label) m_label->setText(QString::number(volume));
    if (anchor) m_dialog->move(anchor->mapToGlobal(QPoint(0, -m_dialog->sizeHint().height() - 4)));
    m_dialog->show();
    m_dialog->raise();
}

void CVoiceDlg::SetVolume(int volume)
{
    volume = std::clamp(volume, 0, 100);
    if (volume > 0) m_lastNonZero = volume;
    if (m_slider && m_slider->value() != volume) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(volume);
    }
    if (m_label) m_label->setText(QString::number(volume));
    if (m_changed) m_changed(volume);
}

CEqualizeDlg::CEqualizeDlg(CUiHost& host, QWidget* parent, bool on, const RKPLAYER_EQ_PRESET& record, Changed changed)
    : m_record(record), m_custom(record), m_changed(std::move(changed))
{
    m_dialog = LoadDialog(host, "EqualizeSetting", parent);
    m_enable = CUiHost::Find<QComboBox>(m_dialog, "EqzSetting_EnableCombo");
    m_preset = CUiHost::Find<QComboBox>(m_dialog, "EqzSetting_PresetValue");
    m_preamp = CUiHost::Find<QSlider>(m_dialog, "EqzSetting_sliderPreamp");
    m_preampLabel = CUiHost::Find<QLabel>(m_dialog, "EqzSetting_Valuegampdb");
    for (int i = 0; i < kEqualizerBands; ++i) {
        m_bands[size_t(i)] = CUiHost::Find<QSlider>(m_dialog, QString("EqzSetting_slideramp%1").arg(i));
        m_bandLabels[size_t(i)] = CUiHost::Find<QLabel>(m_dialog, QString("EqzSetting_ValueAmpdb%1").arg(i));
        if (auto* band = CUiHost::Find<QLabel>(m_dialog, QString("EqzSetting_Band%1").arg(i)))
            band->setText(QString::fromStdString(BandLabel(i)));
    }
    host.Relabel(m_dialog);
    m_loading = true;
    if (m_enable) m_enable->setCurrentIndex(on ? 1 : 0);
    if (m_preset) m_preset->setCurrentIndex(0);
    ToSliders(m_record);
    m_loading = false;
    host.Route(m_dialog, [this](const QString& c, const QString& n) {
        if (m_loading) return;
        if (c == "EqzSetting_EnableCombo" && n == "selectchanged") {
            Notify();
        } else if (c == "EqzSetting_PresetValue" && n == "selectchanged" && m_preset) {
            ChoosePreset(m_preset->currentIndex());
        } else if (n == "valuechanged" && c.startsWith("EqzSetting_slider")) {
            // A band moved by hand: the values become the custom ones.
            FromSliders();
            m_custom = m_record;
            if (m_preset && m_preset->currentIndex() != 0) {
                m_loading = true;
                m_preset->setCurrentIndex(0);
                m_loading = false;
            }
            Notify();
        } else if (c == "EqzSetting_Btn_Close" && n == "click") {
            m_dialog->hide();
        }
    });
}

CEqualizeDlg::~CEqualizeDlg() { delete m_dialog; }

void CEqualizeDlg::Show()
{
    m_dialog->show();
    m_dialog->raise();
}

bool CEqualizeDlg::Enabled() const { return m_enable && m_enable->currentIndex() == 1; }

void CEqualizeDlg::SetEnabled(bool on)
{
    if (m_enable) m_enable->setCurrentIndex(on ? 1 : 0);
}

void CEqualizeDlg::ChoosePreset(int index)
{
    PLAY_TRACE("iPresetType:%d", index);
    const RKPLAYER_EQ_PRESET* preset = EqualizerPreset(index);
    m_loading = true;
    if (m_preset && m_preset->currentIndex() != index) m_preset->setCurrentIndex(index);
    ToSliders(preset ? *preset : m_custom);
    m_loading = false;
    m_record = preset ? *preset : m_custom;
    Notify();
}

void CEqualizeDlg::FromSliders()
{
    if (m_preamp) m_record.preamp = float(SliderToDb(m_preamp->value()));
    for (int i = 0; i < kEqualizerBands; ++i)
        if (m_bands[size_t(i)]) m_record.amp[i] = float(SliderToDb(m_bands[size_t(i)]->value()));
    Relabel(m_record);
}

void CEqualizeDlg::ToSliders(const RKPLAYER_EQ_PRESET& record)
{
    if (m_preamp) m_preamp->setValue(DbToSlider(record.preamp));
    for (int i = 0; i < kEqualizerBands; ++i)
        if (m_bands[size_t(i)]) m_bands[size_t(i)]->setValue(DbToSlider(record.amp[i]));
    Relabel(record);
}

void CEqualizeDlg::Relabel(const RKPLAYER_EQ_PRESET& record)
{
    if (m_preampLabel) m_preampLabel->setText(QString::fromStdString(DbLabel(record.preamp)));
    for (int i = 0; i < kEqualizerBands; ++i)
        if (m_bandLabels[size_t(i)]) m_bandLabels[size_t(i)]->setText(QString::fromStdString(DbLabel(record.amp[i])));
}

void CEqualizeDlg::Notify()
{
    if (m_changed) m_changed(Enabled(), m_record);
}

}  // namespace velmor
