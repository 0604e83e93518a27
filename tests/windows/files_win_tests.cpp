// Text files, code pages, the settings and export files, the registry port
// list and thread priorities on Windows. The program runs with the ANSI code
// page 1251; the suite CodePage1252 runs alone under an English code page.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "../FakeConnectionControls.h"
#include "WinTestHelpers.h"
#include "runtime/Exceptions.h"
#include "runtime/TextCompare.h"
#include "runtime/TextFile.h"
#include "runtime/ThreadPriority.h"
#include "serial/ListComPorts.h"
#include "ui/ConnectionSettings.h"
#include "ui/LogExport.h"

namespace fs = std::filesystem;
using wintests::ReadBytes;
using wintests::WriteBytes;

namespace {

std::string Describe(const EInOutError& Error)
{
    return std::to_string(Error.ErrorCode()) + " " + Error.what();
}

std::string CaughtInOut(const std::function<void()>& Step)
{
    try {
        Step();
    } catch (const EInOutError& e) {
        return Describe(e);
    }
    return "no error";
}

// A fresh working folder for each test, in the code page the suite needs.
class WorkingDir : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::GetACP(), 1251u) << "run under LANG=ru_RU.UTF-8";
        Previous = fs::current_path();
        Dir = wintests::MakeTempDir();
        fs::current_path(Dir);
    }
    void TearDown() override
    {
        if (Previous.empty()) return;
        fs::current_path(Previous);
        std::error_code ignored;
        fs::remove_all(Dir, ignored);
    }
    fs::path Previous, Dir;
};

// --- text files in code page 1251 -------------------------------------------

using TextFile = WorkingDir;

TEST_F(TextFile, LinesGoOutInTheAnsiCodePageWithCrLf)
{
    TTextFileWriter file("out.txt");
    file.WriteLine("Журнал действий: вход №5 «ок» €");
    file.WriteLine("");
    file.WriteLine("latin");
    file.Close();
    EXPECT_EQ(ReadBytes("out.txt"),
              "\xC6\xF3\xF0\xED\xE0\xEB \xE4\xE5\xE9\xF1\xF2\xE2\xE8\xE9: \xE2\xF5\xEE\xE4 \xB9"
              "5 \xAB\xEE\xEA\xBB \x88\r\n\r\nlatin\r\n");
}

TEST_F(TextFile, WhatTheCodePageLacksBecomesAQuestionMark)
{
    const struct {
        const char* Text;
        const char* Bytes;
    } cases[] = {
        {"é", "?"},          // no look-alike "e": the default character
        {"中文", "??"},
        {"a😀b", "a?b"},     // one character outside the plane, one mark
        {"\xFF\xFEx", "??x"}, // bytes that are no UTF-8
    };
    for (const auto& c : cases) {
        TTextFileWriter file("out.txt");
        file.WriteLine(c.Text);
        file.Close();
        EXPECT_EQ(ReadBytes("out.txt"), std::string(c.Bytes) + "\r\n") << c.Text;
    }
}

TEST_F(TextFile, LinesComeBackFromTheCodePage)
{
    WriteBytes("in.txt", "\xC6\xF3\xF0\xED\xE0\xEB\r\n\xB9\x88\xA0x\n");
    TTextFileReader file("in.txt");
    EXPECT_EQ(file.ReadLine(), "Журнал");
    EXPECT_EQ(file.ReadLine(), "№€\u00A0x");
    file.Close();
}

TEST_F(TextFile, LineEndsAndTheEndOfTheFile)
{
    const struct {
        const char* Bytes;
        std::vector<std::string> Lines; // then empty lines past the end
    } cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r\n", {"ab"}},        // a lone CR is dropped
        {"a\r\nb\x1A" "c\r\n", {"a", "b"}}, // 0x1A ends the file
        {"", {}},
        {"\xEF\xBB\xBFx\r\n", {"\xD0\xBF\xC2\xBB\xD1\x97x"}}, // a byte-order mark is three 1251 characters
    };
    for (const auto& c : cases) {
        WriteBytes("in.txt", c.Bytes);
        TTextFileReader file("in.txt");
        for (const auto& line : c.Lines) EXPECT_EQ(file.ReadLine(), line) << c.Bytes;
        EXPECT_EQ(file.ReadLine(), "") << c.Bytes;
        EXPECT_EQ(file.ReadLine(), "") << c.Bytes;
        file.Close();
    }
}

TEST_F(TextFile, CyrillicNamesReachTheFileSystem)
{
    const std::string name = LogFileName("20231187");
    TTextFileWriter file(fs::path(std::u8string(name.begin(), name.end())));
    file.WriteLine("x");
    file.Close();
    // Looked up by its UTF-16 name, not through the code page.
    const DWORD attributes = ::GetFileAttributesW(L"Журнал_ЛОРНИК_20231187.txt");
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    TTextFileReader reader(fs::path(L"Журнал_ЛОРНИК_20231187.txt"));
    EXPECT_EQ(reader.ReadLine(), "x");
    reader.Close();
}

TEST_F(TextFile, FailuresGiveTheTablesCodes)
{
    ASSERT_TRUE(fs::create_directory("folder"));
    const std::string longName(260, 'n');
    const struct {
        const char* What;
        std::function<void()> Step;
        const char* Expected;
    } cases[] = {
        {"missing file", [] { TTextFileReader("missing.txt"); }, "2 File not found"},
        {"missing folder", [] { TTextFileReader("nowhere/x.txt"); }, "3 Invalid filename"},
        {"missing folder, writing", [] { TTextFileWriter("nowhere/x.txt"); }, "3 Invalid filename"},
        {"name of 260 characters", [&] { TTextFileWriter(fs::path(longName)); }, "3 Invalid filename"},
        {"empty name", [] { TTextFileWriter(fs::path()); }, "3 Invalid filename"},
        {"a folder, reading", [] { TTextFileReader("folder"); }, "5 File access denied"},
        {"a folder, writing", [] { TTextFileWriter("folder"); }, "5 File access denied"},
    };
    for (const auto& c : cases) EXPECT_EQ(CaughtInOut(c.Step), c.Expected) << c.What;
}

TEST_F(TextFile, AReadOnlyFileIsNotWritten)
{
    // Wine keeps the read-only mark as the file's permissions, which the
    // superuser the tests run as passes.
    if (wintests::RunningUnderWine()) GTEST_SKIP() << "wine as root writes read-only files; runs on Windows";
    WriteBytes("readonly.txt", "keep\r\n");
    ASSERT_TRUE(::SetFileAttributesW(L"readonly.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CaughtInOut([] { TTextFileWriter("readonly.txt"); }), "5 File access denied");
    EXPECT_EQ(ReadBytes("readonly.txt"), "keep\r\n");
    ::SetFileAttributesW(L"readonly.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(TextFile, AStepAfterCloseIsFileNotOpen)
{
    TTextFileWriter writer("a.txt");
    writer.Close();
    EXPECT_EQ(CaughtInOut([&] { writer.WriteLine("x"); }), "103 I/O error 103");
    EXPECT_EQ(CaughtInOut([&] { writer.Close(); }), "103 I/O error 103");
    TTextFileReader reader("a.txt");
    reader.Close();
    EXPECT_EQ(CaughtInOut([&] { reader.ReadLine(); }), "103 I/O error 103");
}

// Another program's handle on the file, with the sharing it asks for.
wintests::THandle OpenElsewhere(const wchar_t* Name, DWORD Access, DWORD Share)
{
    return wintests::THandle(
        ::CreateFileW(Name, Access, Share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST_F(TextFile, OthersMayReadAnOpenFileButNotWriteIt)
{
    WriteBytes("shared.txt", "x\r\n");
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE;
    {
        TTextFileWriter writer("shared.txt");
        EXPECT_TRUE(OpenElsewhere(L"shared.txt", GENERIC_READ, all).Valid());
        EXPECT_FALSE(OpenElsewhere(L"shared.txt", GENERIC_WRITE, all).Valid());
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        writer.Close();
    }
    {
        TTextFileReader reader("shared.txt");
        EXPECT_TRUE(OpenElsewhere(L"shared.txt", GENERIC_READ, all).Valid());
        EXPECT_FALSE(OpenElsewhere(L"shared.txt", GENERIC_WRITE, all).Valid());
        reader.Close();
    }
}

TEST_F(TextFile, AFileAnotherProgramWritesIsRefusedAndKept)
{
    WriteBytes("held.txt", "keep\r\n");
    const auto other = OpenElsewhere(L"held.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(other.Valid());
    EXPECT_EQ(CaughtInOut([] { TTextFileWriter("held.txt"); }), "32 I/O error 32");
    EXPECT_EQ(CaughtInOut([] { TTextFileReader("held.txt"); }), "32 I/O error 32");
    EXPECT_EQ(ReadBytes("held.txt"), "keep\r\n");
}

// --- the settings file ------------------------------------------------------

TEST(LocaleText, EqualOnlyWhenTheLocaleSeesTheSameText)
{
    const struct {
        const char* Left;
        const char* Right;
        bool Equal;
    } cases[] = {
        {"COM1", "COM1", true},   {"COM1", "com1", false}, {"19200", "19200 ", false},
        {"Порт", "Порт", true},   {"Порт", "порт", false}, {"", "", true},
        {"COM1", "COM10", false},
    };
    for (const auto& c : cases) EXPECT_EQ(LocaleTextEqual(c.Left, c.Right), c.Equal) << c.Left << "|" << c.Right;
}

using SettingsFile = WorkingDir;

TEST_F(SettingsFile, WrittenAndReadInTheCodePage)
{
    FakeControls window;
    window.Com = {"COM1", "COM3"};
    window.ComIndex = 1;
    window.SpeedIndex = 3;
    window.Adder = "адрес";
    WriteConnectionSettings(window);
    EXPECT_EQ(ReadBytes("Settings.txt"), "COM3\r\n9600\r\n\xE0\xE4\xF0\xE5\xF1\r\n");

    FakeControls next;
    ReadConnectionSettings(next);
    EXPECT_EQ(next.SpeedText(), "9600");
    EXPECT_EQ(next.Adder, "адрес");
}

TEST_F(SettingsFile, LinesMatchTheListsWithCaseCounting)
{
    WriteBytes("Settings.txt", "com8\r\n9600 \r\n\r\n");
    FakeControls window;
    ReadConnectionSettings(window);
    EXPECT_EQ(window.SpeedText(), "19200");
    EXPECT_EQ(window.Adder, "1");
    // "com8" is no entry, and no port of that exact name is remembered.
    if (!window.Com.empty()) {
        EXPECT_EQ(window.ComIndex, 0);
    }
}

TEST_F(SettingsFile, NoFileGivesAnEmptyOne)
{
    FakeControls window;
    ReadConnectionSettings(window);
    EXPECT_TRUE(fs::exists("Settings.txt"));
    EXPECT_EQ(fs::file_size("Settings.txt"), 0u);
    EXPECT_EQ(window.SpeedText(), "19200");
    EXPECT_EQ(window.Adder, "1");
}

// --- the log export file ----------------------------------------------------

class FakeLog : public ILogSource {
public:
    std::string VersionText() const override { return "V2.14"; }
    std::string SerialText() const override { return "77"; }
    int32_t RowCount() const override { return static_cast<int32_t>(Rows.size()) + 1; }
    std::string Cell(int32_t Col, int32_t Row) const override
    {
        const auto& row = Rows.at(static_cast<size_t>(Row - 1));
        return Col == 0 ? row.first : row.second;
    }
    std::vector<std::pair<std::string, std::string>> Rows;
};

using LogExport = WorkingDir;

TEST_F(LogExport, TheWholeFileInCodePage1251)
{
    FakeLog log;
    log.Rows = {{"1", "Вход оператора"}, {"2", "Сброс ü"}, {"", ""}};
    SaveLog(log);
    std::ifstream file(fs::path(L"Журнал_ЛОРНИК_77.txt"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes,
              "\xC2\xE5\xF0\xF1\xE8\xFF \xEF\xF0\xE8\xE1\xEE\xF0\xE0: V2.14\r\n"
              "\xD1\xE5\xF0\xE8\xE9\xED\xFB\xE9 \xED\xEE\xEC\xE5\xF0: 77\r\n"
              "1 \xC2\xF5\xEE\xE4 \xEE\xEF\xE5\xF0\xE0\xF2\xEE\xF0\xE0\r\n"
              "2 \xD1\xE1\xF0\xEE\xF1 ?\r\n"
              " \r\n");
}

// --- an English code page -----------------------------------------------------

// Run alone under LANG=C.UTF-8, which gives code page 1252.
TEST(CodePage1252, CyrillicBecomesQuestionMarksAndLatinStays)
{
    ASSERT_EQ(::GetACP(), 1252u) << "run under LANG=C.UTF-8";
    const fs::path dir = wintests::MakeTempDir();
    const fs::path file = dir / "out.txt";
    TTextFileWriter writer(file);
    writer.WriteLine("Журнал é€");
    writer.Close();
    EXPECT_EQ(ReadBytes(file), "?????? \xE9\x80\r\n");
    TTextFileReader reader(file);
    EXPECT_EQ(reader.ReadLine(), "?????? é€");
    reader.Close();
    fs::remove_all(dir);
}

// --- thread priorities ------------------------------------------------------

TEST(ThreadPriority, EachNiceLevelGivesItsWindowsPriority)
{
    const struct {
        int Nice;
        int Priority;
    } cases[] = {
        {19, THREAD_PRIORITY_IDLE},   {10, THREAD_PRIORITY_LOWEST},  {5, THREAD_PRIORITY_BELOW_NORMAL},
        {0, THREAD_PRIORITY_NORMAL},  {-5, THREAD_PRIORITY_ABOVE_NORMAL}, {-10, THREAD_PRIORITY_HIGHEST},
        {-20, THREAD_PRIORITY_TIME_CRITICAL},
    };
    for (const auto& c : cases) {
        int error = -1;
        int priority = 0;
        std::thread([&] {
            error = SetCurrentThreadNice(c.Nice);
            priority = ::GetThreadPriority(::GetCurrentThread());
        }).join();
        EXPECT_EQ(error, 0) << c.Nice;
        EXPECT_EQ(priority, c.Priority) << c.Nice;
    }
}

} // namespace
