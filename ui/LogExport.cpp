#include "ui/LogExport.h"

#include "runtime/TextFile.h"

std::string LogFileName(const std::string& Serial)
{
    return "Журнал_ЛОРНИК_" + Serial + ".txt";
}

void SaveLog(const ILogSource& Source)
{
    const std::string serial = Source.SerialText();
    // The name is UTF-8 text: a path made of char8_t reads it so on every
    // system, where one made of char would take the system's narrow encoding.
    const std::string name = LogFileName(serial);
    TTextFileWriter file(std::filesystem::path(std::u8string(name.begin(), name.end())));
    file.WriteLine("Версия прибора: " + Source.VersionText());
    file.WriteLine("Серийный номер: " + serial);
    const int32_t rows = Source.RowCount();
    for (int32_t row = 1; row < rows; ++row)
        file.WriteLine(Source.Cell(0, row) + ' ' + Source.Cell(1, row));
    file.Close();
}
