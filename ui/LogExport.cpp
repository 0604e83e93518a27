#include "ui/LogExport.h"

#include "runtime/TextFile.h"

std::string LogFileName(const std::string& Serial)
{
    return "Журнал_ЛОРНИК_" + Serial + ".txt";
}

void SaveLog(const ILogSource& Source)
{
    const std::string serial = Source.SerialText();
    TTextFileWriter file(LogFileName(serial));
    file.WriteLine("Версия прибора: " + Source.VersionText());
    file.WriteLine("Серийный номер: " + serial);
    const int32_t rows = Source.RowCount();
    for (int32_t row = 1; row < rows; ++row)
        file.WriteLine(Source.Cell(0, row) + ' ' + Source.Cell(1, row));
    file.Close();
}
