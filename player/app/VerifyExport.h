// The program's "verify an export": the report the user chose checked by
// the export verifier (player/export) on a worker thread while the windows
// keep drawing, and its outcome in words for a message box.
#pragma once

#include <QString>

#include <filesystem>

#include "player/export/ReportVerifier.h"

namespace velmor {

class CUiHost;

// Checks `report` on a worker; the user-interface thread goes on handling
// its events until the check has ended.
ReportCheck VerifyWhileResponsive(const std::filesystem::path& report);

// The message box's text: intact, unsigned, or what differs, in the
// language in force, with the key's fingerprint.
QString VerifyMessageText(const CUiHost& host, const std::filesystem::path& report, const ReportCheck& check);

}  // namespace velmor
