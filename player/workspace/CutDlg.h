// What the page is showing, for clip cutting, and the cut dialog.
#pragma once

#include <QDialog>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "player/search/SourceKind.h"

namespace velmor {

struct CutSource {
    std::filesystem::path path;                // recorder disk folder / container folder / single file
    ESourceKind kind = ESourceKind::kUnknown;
    std::vector<int> channels;                 // channels with recordings in the marked range
    uint32_t from = 0, to = 0;                 // the marked range, recorder seconds
};

class CCutDlg : public QDialog {
public:
    explicit CCutDlg(QWidget* parent = nullptr) : QDialog(parent) {}
};

}  // namespace velmor
