// The volume window and the equalizer window of the play window set: each
// made once on first use and kept, each calling the window set back with
// every change, so that the play loops hear it with their next sound frame.
#pragma once

#include <QDialog>

#include <array>
#include <functional>

#include "media/include/rkmedia.h"

class QComboBox;
class QLabel;
class QSlider;

namespace velmor {

class CUiHost;

class CVoiceDlg {
public:
    using Changed = std::function<void(int volume)>;
    CVoiceDlg(CUiHost& host, QWidget* parent, Changed changed, std::function<void()> openEqualizer);
    ~CVoiceDlg();
    QDialog* Dialog() const { return m_dialog; }
    // Shows the window beside `anchor` with the volume in force.
    void Show(QWidget* anchor, int volume);
    void SetVolume(int volume);  // as the slider would

private:
    QDialog* m_dialog = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_label = nullptr;
    Changed m_changed;
    int m_lastNonZero = 50;
};

class CEqualizeDlg {
public:
    using Changed = std::function<void(bool on, const RKPLAYER_EQ_PRESET& record)>;
    CEqualizeDlg(CUiHost& host, QWidget* parent, bool on, const RKPLAYER_EQ_PRESET& record, Changed changed);
    ~CEqualizeDlg();
    QDialog* Dialog() const { return m_dialog; }
    void Show();
    // A preset 1..10, or 0 for the values last set by hand.
    void ChoosePreset(int index);
    void SetEnabled(bool on);
    bool Enabled() const;
    const RKPLAYER_EQ_PRESET& Record() const { return m_record; }

private:
    void FromSliders();
    void ToSliders(const RKPLAYER_EQ_PRESET& record);
    void Relabel(const RKPLAYER_EQ_PRESET& record);
    void Notify();

    QDialog* m_dialog = nullptr;
    QComboBox* m_enable = nullptr;
    QComboBox* m_preset = nullptr;
    QSlider* m_preamp = nullptr;
    QLabel* m_preampLabel = nullptr;
    std::array<QSlider*, 10> m_bands{};
    std::array<QLabel*, 10> m_bandLabels{};
    RKPLAYER_EQ_PRESET m_record{};
    RKPLAYER_EQ_PRESET m_custom{};
    bool m_loading = false;
    Changed m_changed;
};

}  // namespace velmor
