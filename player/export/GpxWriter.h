// A GPX 1.1 track of an export: one track point per position record, with
// the height as elevation and the recorder's clock written as UTC (the
// recorder does not say its zone; the times read as the recorder showed them).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "player/formats/AttachInfo.h"

namespace velmor {

class CPositionGrid;

class CGpxWriter {
public:
    explicit CGpxWriter(std::string trackName, const CPositionGrid* grid = nullptr)
        : m_name(std::move(trackName)), m_grid(grid)
    {
    }

    // Adds the record when it carries a position; true when it did.
    bool Add(const StAttachInfo_t& record);
    size_t Points() const { return m_points; }

    // The whole document.
    std::string Document() const;
    // Writes the document to a new file (never replacing one): through a
    // temporary name, so that only a complete track carries the name.
    bool Save(const std::filesystem::path& path, std::string* error) const;

private:
    std::string m_name;
    const CPositionGrid* m_grid;
    std::string m_pointsXml;
    size_t m_points = 0;
};

// XML text with &, <, >, " and ' escaped.
std::string XmlEscape(const std::string& text);

}  // namespace velmor
