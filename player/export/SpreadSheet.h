// Rows of text written as a workbook (".xlsx") or as a delimited text file.
// The log page exports through it. A name ending ".xls" is written as a real
// ".xlsx" workbook.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velmor {

class CSpreadSheet {
public:
    // `replace`: start empty even when the file exists. Otherwise an existing
    // text file's rows are read (its first row is the header row); an existing
    // workbook cannot be read back and is refused ("Error in opening file")
    // rather than overwritten.
    CSpreadSheet(std::filesystem::path file, std::string sheet, bool replace = true, char separator = ',');

    bool IsExcel() const { return m_excel; }
    const std::filesystem::path& File() const { return m_file; }
    bool IsOpen() const { return m_open; }

    // Adds fields to the header row; a field already there is refused.
    bool AddHeaders(const std::vector<std::string>& fields);
    // Appends a row (`row` 0) or replaces or inserts at 1-based data row `row`.
    bool AddRow(const std::vector<std::string>& values, size_t row = 0, bool replace = false);
    // Writes everything to the file (a text file through a temporary name, so
    // a failed write leaves the earlier file as it was).
    bool Commit();

    // 1-based data row `row` (0: the next after the last read); false past the end.
    bool ReadRow(std::vector<std::string>& values, size_t row = 0);
    const std::vector<std::string>& Headers() const { return m_headers; }
    size_t TotalRows() const { return m_rows.size(); }
    size_t TotalColumns() const { return m_headers.size(); }

    const std::string& LastError() const { return m_error; }

    // One line of the text form, without its line end: values that hold the
    // separator, a quote or a line break are enclosed in quotes (inner quotes
    // doubled, so that the line reads back the same).
    static std::string TextLine(const std::vector<std::string>& values, char separator);
    // The values of one text line.
    static std::vector<std::string> SplitTextLine(const std::string& line, char separator);

private:
    bool Fail(std::string message);
    bool CommitText();
    bool CommitWorkbook();

    std::filesystem::path m_file;
    std::string m_sheet;
    char m_separator;
    bool m_excel = false;
    bool m_open = false;
    std::vector<std::string> m_headers;
    std::vector<std::vector<std::string>> m_rows;
    size_t m_readRow = 0;
    std::string m_error;
};

}  // namespace velmor
