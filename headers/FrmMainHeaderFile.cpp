// The header list file beside the executable: read once at start as the last
// step of the settings load, written once at close.

#include "app/untFrmMain.h"

#include "headers/HeaderFile.h"
#include "headers/HeaderList.h"

void TFrmMain::LoadReqHeaderFile()
{
    HeaderFileWasRead = false;
    // Every row is parsed before the first one is added, so a file that fails
    // to read leaves the list empty.
    const std::optional<std::vector<HeaderEntry>> rows = ReadHeaderFile(HeadersFilePath);
    if (rows) {
        for (const HeaderEntry& row : *rows)
            m_headers->append(row.name, row.value);
    }
    HeaderFileWasRead = true;
}

void TFrmMain::SaveReqHeaderFile()
{
    std::vector<HeaderEntry> rows;
    if (!HeaderFileWasRead) {
        // The file's rows never reached the list at this start; an empty list
        // says nothing about them, and rows added since go in beside them.
        if (m_headers->count() == 0)
            return;
        if (std::optional<std::vector<HeaderEntry>> kept = ReadHeaderFile(HeadersFilePath))
            rows = std::move(*kept);
    }
    rows.reserve(rows.size() + size_t(m_headers->count()));
    for (int row = 0; row < m_headers->count(); ++row)
        rows.push_back(m_headers->at(row));
    WriteHeaderFile(HeadersFilePath, rows);
}
