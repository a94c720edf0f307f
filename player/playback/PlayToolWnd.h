// The information strip of one play window (skin/PlayToolWnd.ui): picture
// size, sound, frame rate and codec of what the window plays, each the
// language text of its label followed by the value.
#pragma once

#include <QStringList>
#include <QWidget>

#include <array>

class QLabel;

namespace velmor {

class CUiHost;
struct WindowStreamInfo;

class CPlayToolWnd : public QWidget {
public:
    // The strip of window `index` (1..16): "PLAYTOOLWND_<index>", its texts
    // "PLAYTOOLWND_Resolving_<index>", "..._Audio_", "..._Frame_" and
    // "..._VideoFormat_<index>". Hidden until a window plays.
    CPlayToolWnd(CUiHost& host, int index, QWidget* parent);

    // The four texts for the stream; all empty while its size is unknown.
    static QStringList Texts(const CUiHost& host, const WindowStreamInfo& info);

    void SetTexts(const QStringList& texts);
    // What the strip shows now, in the order above.
    QStringList Texts() const;

private:
    std::array<QLabel*, 4> m_labels{};
};

}  // namespace velmor
