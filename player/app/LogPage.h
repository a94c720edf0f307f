// The log page: the recorder logs of the searched source, narrowed by type
// and time range, counted and exported.
#pragma once

#include <QWidget>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "player/search/RecorderLog.h"

class QTableWidget;

namespace velmor {

class CLanguageTable;
class CUiHost;

class CLogPage : public QWidget {
public:
    CLogPage(CUiHost& host, QWidget* parent);

    // The folders whose "log.bin" the page lists (the driving-record page
    // sets them after a search). Returns the number of logs read.
    int SetSources(const std::vector<std::filesystem::path>& folders);

    // The folder button: the log of a folder the user chooses, listed with
    // the filter of the page. Returns the rows listed, or -1 (and tells the
    // user) when the folder holds no readable log.
    int LoadFolder(const std::filesystem::path& folder);
    // The filter controls' query, as the query button runs it.
    int QueryControls();
    // Sets the type choice and the time range as the user would; false for
    // an unknown type entry.
    bool SetFilterControls(const QString& typeEntry, uint32_t from, uint32_t to);
    // What the last folder load gave: rows listed, or -1.
    int LastFolderLoad() const { return m_lastFolderLoad; }

    // Type entry ("Log_ComBox_All", ...) and an inclusive time range in
    // recorder seconds; fills the list. Returns the number of rows, or -1
    // for an unknown type entry.
    int Query(const QString& typeEntry, uint32_t from, uint32_t to);

    // Writes the listed rows; the path written (".xls" becomes ".xlsx"), or
    // empty with `error`. Tells the user either way.
    std::filesystem::path Export(const std::filesystem::path& file, std::string* error);

    int RowCount() const;
    void Relabel();

private:
    void OnNotify(const QString& control, const QString& notification);
    void Fill();
    // The host's table, or an empty one before a table is loaded.
    const CLanguageTable& Language() const;

    CUiHost& m_host;
    QWidget* m_ui = nullptr;
    QTableWidget* m_list = nullptr;
    mutable std::mutex m_mutex;  // the entries, as workers may fill them
    std::vector<std::filesystem::path> m_sources;
    std::vector<LogEntry> m_all;
    std::vector<LogEntry> m_shown;
    int m_lastFolderLoad = 0;
};

}  // namespace velmor
