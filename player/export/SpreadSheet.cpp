#include "player/export/SpreadSheet.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

namespace velmor {
namespace {

bool EndsWithNoCase(const std::string& text, const std::string& end)
{
    if (text.size() < end.size()) return false;
    return std::equal(end.begin(), end.end(), text.end() - std::ptrdiff_t(end.size()),
                      [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); });
}

}  // namespace

CSpreadSheet::CSpreadSheet(std::filesystem::path file, std::string sheet, bool replace, char separator)
    : m_file(std::move(file)), m_sheet(std::move(sheet)), m_separator(separator)
{
    const std::string name = m_file.filename().string();
    if (EndsWithNoCase(name, ".xls")) m_file += "x";
    m_excel = EndsWithNoCase(m_file.filename().string(), ".xlsx");
    if (m_sheet.empty()) m_sheet = "Sheet1";
    std::error_code ec;
    const bool exists = std::filesystem::exists(m_file, ec);
    if (replace || !exists) {
        m_open = true;
        return;
    }
    if (m_excel) {
        Fail("Error in opening file");
        return;
    }
    std::ifstream in(m_file, std::ios::binary);
    if (!in) {
        Fail("Error in opening file");
        return;
    }
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto values = SplitTextLine(line, m_separator);
        if (first) {
            m_headers = std::move(values);
            first = false;
        } else {
            m_rows.push_back(std::move(values));
        }
    }
    m_open = true;
}

bool CSpreadSheet::Fail(std::string message)
{
    m_error = std::move(message);
    return false;
}

bool CSpreadSheet::AddHeaders(const std::vector<std::string>& fields)
{
    if (!m_open) return Fail("Problems with adding headers");
    for (const auto& f : fields)
        if (std::count(m_headers.begin(), m_headers.end(), f) ||
            std::count(fields.begin(), fields.end(), f) > 1)
            return Fail("Duplicate header row field:" + f);
    m_headers.insert(m_headers.end(), fields.begin(), fields.end());
    return true;
}

bool CSpreadSheet::AddRow(const std::vector<std::string>& values, size_t row, bool replace)
{
    if (m_headers.empty()) return Fail("No header row. Add header row first");
    if (values.size() > m_headers.size())
        return Fail("Number of columns to be added cannot be greater than the number of fields");
    if (row == 0) {
        m_rows.push_back(values);
        return true;
    }
    if (replace) {
        if (row > m_rows.size()) return Fail("Desired row is greater than total number of rows in spreadsheet");
        m_rows[row - 1] = values;
        return true;
    }
    if (row > m_rows.size() + 1) return Fail("Desired row is greater than total number of rows in spreadsheet");
    m_rows.insert(m_rows.begin() + std::ptrdiff_t(row - 1), values);
    return true;
}

bool CSpreadSheet::ReadRow(std::vector<std::string>& values, size_t row)
{
    if (row == 0) row = m_readRow + 1;
    if (row > m_rows.size()) return Fail("Error reading row");
    values = m_rows[row - 1];
    m_readRow = row;
    return true;
}

std::string CSpreadSheet::TextLine(const std::vector<std::string>& values, char separator)
{
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) line += separator;
        const std::string& v = values[i];
        if (v.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string::npos) {
            line += v;
            continue;
        }
        line += '"';
        for (char ch : v) {
            if (ch == '"') line += '"';
            line += ch;
        }
        line += '"';
    }
    return line;
}

std::vector<std::string> CSpreadSheet::SplitTextLine(const std::string& line, char separator)
{
    std::vector<std::string> values(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (quoted) {
            if (ch == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                values.back() += '"';
                ++i;
            } else if (ch == '"') {
                quoted = false;
            } else {
                values.back() += ch;
            }
        } else if (ch == '"') {
            quoted = true;
        } else if (ch == separator) {
            values.emplace_back();
        } else {
            values.back() += ch;
        }
    }
    return values;
}

bool CSpreadSheet::Commit()
{
    if (!m_open) return Fail("Error in opening file");
    if (m_headers.empty()) return Fail("No header row. Add header row first");
    return m_excel ? CommitWorkbook() : CommitText();
}

bool CSpreadSheet::CommitText()
{
    auto temp = m_file;
    temp += ".partial";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return Fail("Error writing file");
        out << TextLine(m_headers, m_separator) << "\r\n";
        for (const auto& row : m_rows) out << TextLine(row, m_separator) << "\r\n";
        out.flush();
        if (!out) {
            out.close();
            std::error_code ec;
            std::filesystem::remove(temp, ec);
            return Fail("Error writing file");
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, m_file, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return Fail("Error writing file");
    }
    return true;
}

bool CSpreadSheet::CommitWorkbook()
{
    auto temp = m_file;
    temp += ".partial.xlsx";
    lxw_workbook* book = workbook_new(temp.c_str());
    if (!book) return Fail("Error writing file");
    // Sheet names may not hold []:*?/\ and are at most 31 characters.
    std::string sheet;
    for (char ch : m_sheet)
        if (!std::strchr("[]:*?/\\", ch)) sheet += ch;
    if (sheet.empty()) sheet = "Sheet1";
    if (sheet.size() > 31) sheet.resize(31);
    lxw_worksheet* ws = workbook_add_worksheet(book, sheet.c_str());
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    bool ok = ws != nullptr;
    for (size_t c = 0; ok && c < m_headers.size(); ++c)
        ok = worksheet_write_string(ws, 0, lxw_col_t(c), m_headers[c].c_str(), bold) == LXW_NO_ERROR;
    for (size_t r = 0; ok && r < m_rows.size(); ++r)
        for (size_t c = 0; ok && c < m_rows[r].size(); ++c)
            ok = worksheet_write_string(ws, lxw_row_t(r + 1), lxw_col_t(c), m_rows[r][c].c_str(), nullptr) ==
                 LXW_NO_ERROR;
    const bool closed = workbook_close(book) == LXW_NO_ERROR;
    std::error_code ec;
    if (!ok || !closed) {
        std::filesystem::remove(temp, ec);
        return Fail("Error writing file");
    }
    std::filesystem::rename(temp, m_file, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return Fail("Error writing file");
    }
    return true;
}

}  // namespace velmor
