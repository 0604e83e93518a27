#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <functional>
#include <map>

#include "runtime/Exceptions.h"
#include "ui/LogExport.h"

namespace fs = std::filesystem;

#include "FileTestHelpers.h"
#include "TestLocales.h"

using namespace filetests;

namespace {

// The window as the export sees it: a grid with its header row and, as after
// start-up, one empty row.
class FakeLog : public ILogSource {
public:
    std::string Version, Serial;
    int32_t Rows = 2;
    std::map<std::pair<int32_t, int32_t>, std::string> Cells{{{0, 0}, "Номер"}, {{1, 0}, "Ответ"}};

    // Fills rows 1..N as a download of N records does; one empty row follows.
    void Download(const std::vector<std::string>& Records)
    {
        for (size_t i = 0; i < Records.size(); ++i) {
            const auto row = static_cast<int32_t>(i + 1);
            Cells[{0, row}] = std::to_string(row);
            Cells[{1, row}] = Records[i];
        }
        for (int32_t row = static_cast<int32_t>(Records.size()) + 1; row < Rows; ++row) {
            Cells.erase({0, row});
            Cells.erase({1, row});
        }
        Rows = static_cast<int32_t>(Records.size()) + 2;
    }

    std::string VersionText() const override { return Version; }
    std::string SerialText() const override { return Serial; }
    int32_t RowCount() const override { return Rows; }
    std::string Cell(int32_t Col, int32_t Row) const override
    {
        const auto cell = Cells.find({Col, Row});
        return cell == Cells.end() ? "" : cell->second;
    }
};

class ExportTest : public TWorkingDirTest {};

TEST_F(ExportTest, BeforeAnyDeviceThreeLinesUnderTheBareName)
{
    SaveLog(FakeLog{});
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_.txt"), "Версия прибора: \r\nСерийный номер: \r\n \r\n");
}

TEST_F(ExportTest, TwoRecordsGiveFiveLinesAndTextsStayUnchanged)
{
    FakeLog log;
    log.Version = "ЛОРНИК-2 v1.07";
    log.Serial = "123456";
    log.Download({"Вход в меню", "  Выход  из меню "});
    SaveLog(log);
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_123456.txt"),
              "Версия прибора: ЛОРНИК-2 v1.07\r\n"
              "Серийный номер: 123456\r\n"
              "1 Вход в меню\r\n"
              "2   Выход  из меню \r\n"
              " \r\n");
}

TEST_F(ExportTest, SavingAgainOverwritesWithoutAsking)
{
    FakeLog log;
    log.Serial = "7";
    log.Download({"a", "b", "c"});
    SaveLog(log);
    log.Download({"d"});
    SaveLog(log);
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_7.txt"), "Версия прибора: \r\nСерийный номер: 7\r\n1 d\r\n \r\n");
}

TEST_F(ExportTest, CharactersAnEightBitLocaleCannotHoldBecomeQuestionMarks)
{
    SetTextFileLocale(EightBitLocale("KOI8-R").c_str());
    FakeLog log;
    log.Version = "v2";
    log.Serial = "42";
    log.Download({"Ошибка № 5"}); // KOI8-R has no "№"
    SaveLog(log);
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_42.txt"),
              "\xF7\xC5\xD2\xD3\xC9\xD1 \xD0\xD2\xC9\xC2\xCF\xD2\xC1: v2\r\n"
              "\xF3\xC5\xD2\xC9\xCA\xCE\xD9\xCA \xCE\xCF\xCD\xC5\xD2: 42\r\n"
              "1 \xEF\xDB\xC9\xC2\xCB\xC1 ? 5\r\n"
              " \r\n");
}

// The C locale holds no Cyrillic at all: the file is UTF-8 rather than a
// page of question marks.
TEST_F(ExportTest, AsciiLocaleKeepsEveryCharacter)
{
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    SetTextFileLocale("C");
    FakeLog log;
    log.Version = "V2.07-LOG";
    log.Serial = "42";
    log.Download({"Ошибка № 5"});
    SaveLog(log);
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_42.txt"),
              "Версия прибора: V2.07-LOG\r\nСерийный номер: 42\r\n1 Ошибка № 5\r\n \r\n");
}

// A folder nobody may write: refused for the owner, and as root for the user
// the step then runs as.
TEST_F(ExportTest, UnwritableFolderIsAccessDenied)
{
    const fs::perms readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(Dir, readOnly);
    const std::string result = RunAsNobody([] {
        FakeLog log;
        log.Serial = "1";
        SaveLog(log);
        return std::string("saved");
    });
    fs::permissions(Dir, fs::perms::owner_all);
    EXPECT_EQ(result, "EInOutError 5: File access denied");
    EXPECT_TRUE(fs::is_empty(Dir));
}

} // namespace
