// The window and actionlog read the same device and save the same file,
// byte for byte: the window under Qt's offscreen platform, actionlog as a
// child process.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliProcess.h"
#include "SimDeviceProcess.h"
#include "runtime/ExceptionDisplay.h"
#include "ui/EventLoopHandOver.h"
#include "ui/Form1.h"

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(CliAndWindow, SaveTheSameFileForTheSameDevice)
{
    char pattern[] = "/tmp/actionlog-cliwin-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const fs::path windowDir = dir / "window";
    const fs::path cliDir = dir / "cli";
    fs::create_directories(windowDir / "sys/class/tty"); // no serial ports present
    fs::create_directories(cliDir);
    const std::string port = (dir / "ttySIM").string();
    const fs::path previous = fs::current_path();
    const std::string file = "Журнал_ЛОРНИК_20231187.txt";
    std::vector<std::string> errors;
    SetExceptionDisplay([&errors](const std::exception& e) { errors.push_back(e.what()); });
    {
        // Long records and a split answer: what the window makes of them is
        // what actionlog must make of them.
        TSimDeviceProcess device({"--link", port, "--records", "25", "--min-length", "0", "--max-length", "250",
                                  "--split-gap-ms", "20", "--log", (dir / "device.log").string()});
        fs::current_path(windowDir);
        std::ofstream("Settings.txt", std::ios::binary) << port << "\r\n115200\r\n1\r\n";
        {
            TForm1 form(windowDir / "sys", "/dev");
            form.FormCreate();
            form.show();
            QTest::mouseClick(form.Connect, Qt::LeftButton);
            ASSERT_TRUE(QTest::qWaitFor([&] { return form.Count->text() == "25"; }, 10000));
            QTest::mouseClick(form.Start, Qt::LeftButton);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Stop->isEnabled(); }, 60000));
            QTest::mouseClick(form.Save, Qt::LeftButton);
            form.close();
        }
        fs::current_path(previous);

        const TCliResult r = RunCli({"download", "--port", port, "--speed", "115200"}, cliDir);
        ASSERT_EQ(r.Status, 0) << r.Err;
    }
    EXPECT_TRUE(errors.empty()) << errors.front();
    SetExceptionDisplay(nullptr);
    const std::string windowFile = ReadBytes(windowDir / file);
    EXPECT_EQ(std::count(windowFile.begin(), windowFile.end(), '\n'), 28);
    EXPECT_EQ(ReadBytes(cliDir / file), windowFile);
    fs::remove_all(dir);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The same narrow encoding as the child's.
    std::setlocale(LC_ALL, "C.UTF-8");
    HandOverToEventLoop();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    EndHandOverToEventLoop();
    return result;
}
