#pragma once
// The log export file "Журнал_ЛОРНИК_<serial>.txt" in the working directory.

#include <cstdint>
#include <filesystem>
#include <string>

// What the export reads of the window: the Version and Serial texts and the
// grid Arch, whose row 0 is its header.
class ILogSource {
public:
    virtual ~ILogSource() = default;

    virtual std::string VersionText() const = 0;
    virtual std::string SerialText() const = 0;
    virtual int32_t RowCount() const = 0;
    virtual std::string Cell(int32_t Col, int32_t Row) const = 0;
};

// The work of SaveClick: writes the version line, the serial number line and
// one line "<column 0> <column 1>" for every grid row below the header,
// overwriting a file of the same name without asking. Raises EInOutError
// when a file step fails.
void SaveLog(const ILogSource& Source);
// The same lines, written to File.
void SaveLog(const ILogSource& Source, const std::filesystem::path& File);

// "Журнал_ЛОРНИК_" + Serial + ".txt".
std::string LogFileName(const std::string& Serial);
// The same name as a path, read as UTF-8 on every system (a path made from
// a plain string would take the system's narrow encoding on Windows).
std::filesystem::path LogFilePath(const std::string& Serial);
