#include "ui/LogExport.h"

#include "runtime/TextFile.h"

std::string LogFileName(const std::string& Serial)
{
    return "Журнал_ЛОРНИК_" + Serial + ".txt";
}

std::filesystem::path LogFilePath(const std::string& Serial)
{
    const std::string name = LogFileName(Serial);
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

void SaveLog(const ILogSource& Source)
{
    SaveLog(Source, LogFilePath(Source.SerialText()));
}

void SaveLog(const ILogSource& Source, const std::filesystem::path& File)
{
    TTextFileWriter file(File);
    file.WriteLine("Версия прибора: " + Source.VersionText());
    file.WriteLine("Серийный номер: " + Source.SerialText());
    const int32_t rows = Source.RowCount();
    for (int32_t row = 1; row < rows; ++row)
        file.WriteLine(Source.Cell(0, row) + ' ' + Source.Cell(1, row));
    file.Close();
}
