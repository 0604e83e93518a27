#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <functional>
#include <map>

#include "runtime/Exceptions.h"
#include "ui/LogExport.h"

namespace fs = std::filesystem;

#include "FileTestHelpers.h"

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

TEST_F(ExportTest, CharactersTheEncodingCannotHoldBecomeQuestionMarks)
{
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    FakeLog log;
    log.Version = "v2";
    log.Serial = "42";
    log.Download({"Ошибка 5"});
    SaveLog(log);
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_42.txt"),
              "?????? ???????: v2\r\n???????? ?????: 42\r\n1 ?????? 5\r\n \r\n");
}

TEST_F(ExportTest, UnwritableFolderIsAccessDenied)
{
    fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    const std::string result = RunAsNobody([] {
        FakeLog log;
        log.Serial = "1";
        SaveLog(log);
        return std::string("saved");
    });
    EXPECT_EQ(result, "EInOutError 5: File access denied");
    EXPECT_TRUE(fs::is_empty(Dir));
}

} // namespace
