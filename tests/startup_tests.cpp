// The program as it starts on a user's machine: a fresh process whose
// environment names no locale, the C locale, a locale that is not installed
// or a real 8-bit one, the same first call as the program's main, the real
// window under Qt's offscreen platform, then Connect, a whole download from
// the simulated device and Save. The files' bytes show what survived.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SimDeviceProcess.h"
#include "TestLocales.h"
#include "runtime/ExceptionDisplay.h"
#include "runtime/Locale.h"
#include "runtime/TextFile.h"
#include "ui/EventLoopHandOver.h"
#include "ui/Form1.h"
#include "ui/MessageBoxes.h"

namespace fs = std::filesystem;

namespace {

constexpr char ProgramMode[] = "--program";

// ---- the program, in the child process ---------------------------------------

// What an operator does: Connect, Start, wait for the download, Save. Every
// error and message box is written to stderr and fails the run.
int RunProgram(int argc, char* argv[])
{
    ::alarm(120); // a hang ends the run instead of the test

    // The same start as the program's main, before anything else.
    SetLocaleFromEnvironment();
    QApplication application(argc, argv);
    HandOverToEventLoop();

    bool failed = false;
    TForm1 form(fs::current_path() / "sys", "/dev"); // no ports but the remembered one
    SetExceptionDisplay([&failed](const std::exception& e) {
        std::cerr << "error: " << e.what() << '\n';
        failed = true;
    });
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [&failed] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        std::cerr << "message box: " << box->text().toStdString() << '\n';
        failed = true;
        box->button(QMessageBox::Ok)->click();
    });
    boxCloser.start(10);

    RunGuarded([&form] { form.FormCreate(); });
    form.show();
    std::cout << "text files: " << TextFileCharacterSet() << std::endl;

    const auto step = [&](const char* What, QPushButton* Button, const std::function<bool()>& Done) {
        if (failed) return;
        Button->click();
        if (!QTest::qWaitFor([&] { return failed || Done(); }, 60000)) {
            std::cerr << What << ": timed out\n";
            failed = true;
        }
    };
    step("connect", form.Connect, [&] { return !form.Count->text().isEmpty() && form.Count->text() != "1000"; });
    step("download", form.Start, [&] { return !form.Stop->isEnabled(); });
    step("save", form.Save, [] { return true; });
    form.close();

    boxCloser.stop();
    EndHandOverToEventLoop();
    SetExceptionDisplay(nullptr);
    return failed ? 1 : 0;
}

// ---- the test, in the parent ---------------------------------------------------

std::string ReadBytes(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& File, const std::string& Bytes)
{
    std::ofstream(File, std::ios::binary) << Bytes;
}

// The log the device holds, index 0 first; a download fetches it from the
// last index down. KOI8-R has no "№", "—", "«" and "»".
const std::vector<std::string> DeviceRecords = {
    "12.03.2026 08:15:42 Оператор: вход в систему",
    "Запись № 5 — «датчик» Ёё",
    "Журнал очищен",
};

const std::string SavedUtf8 =
    "Версия прибора: V2.07-LOG\r\n"
    "Серийный номер: 20231187\r\n"
    "1 Журнал очищен\r\n"
    "2 Запись № 5 — «датчик» Ёё\r\n"
    "3 12.03.2026 08:15:42 Оператор: вход в систему\r\n"
    " \r\n";

const std::string SavedKoi8r =
    "\xF7\xC5\xD2\xD3\xC9\xD1 \xD0\xD2\xC9\xC2\xCF\xD2\xC1: V2.07-LOG\r\n"
    "\xF3\xC5\xD2\xC9\xCA\xCE\xD9\xCA \xCE\xCF\xCD\xC5\xD2: 20231187\r\n"
    "1 \xF6\xD5\xD2\xCE\xC1\xCC \xCF\xDE\xC9\xDD\xC5\xCE\r\n"
    "2 \xFA\xC1\xD0\xC9\xD3\xD8 ? 5 ? ?\xC4\xC1\xD4\xDE\xC9\xCB? \xB3\xA3\r\n"
    "3 12.03.2026 08:15:42 \xEF\xD0\xC5\xD2\xC1\xD4\xCF\xD2: \xD7\xC8\xCF\xC4 \xD7 \xD3\xC9\xD3\xD4\xC5\xCD\xD5\r\n"
    " \r\n";

// The port's link in the working folder, and its name in each encoding.
constexpr char PortLink[] = "Счётчик";
constexpr char PortLinkKoi8r[] = "\xF3\xDE\xA3\xD4\xDE\xC9\xCB";

struct StartCase {
    const char* name;
    // The locale variables of the environment.
    std::function<std::vector<std::string>()> locale;
    bool koi8r; // the files are KOI8-R rather than UTF-8
};

class ProgramStart : public testing::TestWithParam<StartCase> {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/actionlog-startup-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Dir = pattern;
        fs::create_directories(Dir / "sys/class/tty");
        std::ofstream records(Dir / "records.txt", std::ios::binary);
        for (const std::string& r : DeviceRecords) records << r << '\n';
        records.close();
        Device = std::make_unique<TSimDeviceProcess>(std::vector<std::string>{
            "--records-file", (Dir / "records.txt").string(), "--link", (Dir / PortLink).string(),
            "--dump", (Dir / "dump.txt").string(), "--version", "V2.07-LOG", "--serial", "20231187"});
    }

    void TearDown() override
    {
        Device.reset();
        if (std::getenv("KEEP_TEST_DIR") == nullptr) fs::remove_all(Dir);
    }

    // Starts this test program as the program, in the working folder, with
    // only the environment a user's session would pass and Locale; returns
    // its exit status.
    int RunProgramWith(const std::vector<std::string>& Locale)
    {
        std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen"};
        for (const char* name : {"PATH", "HOME", "TMPDIR", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
        environment.insert(environment.end(), Locale.begin(), Locale.end());
        std::vector<char*> envp;
        for (std::string& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string self = fs::read_symlink("/proc/self/exe").string();
        std::string mode = ProgramMode;
        char* argv[] = {self.data(), mode.data(), nullptr};
        const std::string dir = Dir.string();
        const std::string log = (Dir / "program.log").string();

        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execve(argv[0], argv, envp.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    fs::path Dir;
    std::unique_ptr<TSimDeviceProcess> Device;
};

// Connect keeps the remembered port, and the saved log holds every character
// the locale can hold: all of them unless the locale is a real 8-bit one.
TEST_P(ProgramStart, ConnectDownloadAndSaveKeepTheCyrillic)
{
    const bool koi8r = GetParam().koi8r;
    const std::string settings =
        Dir.string() + "/" + (koi8r ? PortLinkKoi8r : PortLink) + "\r\n115200\r\n1\r\n";
    WriteBytes(Dir / "Settings.txt", settings);

    const int status = RunProgramWith(GetParam().locale());
    EXPECT_EQ(status, 0) << ReadBytes(Dir / "program.log");
    EXPECT_NE(ReadBytes(Dir / "program.log").find(koi8r ? "text files: KOI8-R" : "text files: UTF-8"),
              std::string::npos)
        << ReadBytes(Dir / "program.log");
    EXPECT_EQ(ReadBytes(Dir / "Settings.txt"), settings) << "Connect lost the remembered port";
    EXPECT_EQ(ReadLines((Dir / "dump.txt").string()), DeviceRecords);
    EXPECT_EQ(ReadBytes(Dir / "Журнал_ЛОРНИК_20231187.txt"), koi8r ? SavedKoi8r : SavedUtf8);
}

INSTANTIATE_TEST_SUITE_P(Locales, ProgramStart, testing::Values(
    StartCase{"NoLocaleVariables", [] { return std::vector<std::string>{}; }, false},
    StartCase{"LangC", [] { return std::vector<std::string>{"LANG=C"}; }, false},
    StartCase{"LcAllPosix", [] { return std::vector<std::string>{"LC_ALL=POSIX", "LANG=C.UTF-8"}; }, false},
    StartCase{"NotInstalled", [] { return std::vector<std::string>{"LANG=xx_XX.UTF-8"}; }, false},
    StartCase{"CUtf8", [] { return std::vector<std::string>{"LANG=C.UTF-8"}; }, false},
    StartCase{"Koi8r", [] {
        return std::vector<std::string>{"LANG=" + EightBitLocale("KOI8-R"), "LOCPATH=" + TestLocaleFolder()};
    }, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], ProgramMode) == 0) return RunProgram(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
