#include <gtest/gtest.h>

#include <clocale>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iterator>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestLocales.h"
#include "runtime/Exceptions.h"
#include "runtime/TextFile.h"

namespace fs = std::filesystem;
using textfile_detail::TFileHandle;

// Helpers shared by the file tests.
#include "FileTestHelpers.h"

namespace filetests {

fs::path MakeTempDir()
{
    std::string pattern = (fs::temp_directory_path() / "files_tests.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::string ReadBytes(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + File.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& File, std::string_view Bytes)
{
    std::ofstream out(File, std::ios::binary | std::ios::trunc);
    out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + File.string());
}

std::string Describe(const EInOutError& Error)
{
    return "EInOutError " + std::to_string(Error.ErrorCode()) + ": " + Error.Message();
}

std::string RunInChild(const std::function<std::string()>& Step, bool AsNobody)
{
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    TFileHandle readEnd(fds[0]);
    TFileHandle writeEnd(fds[1]);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        readEnd.Close();
        std::string result;
        if (AsNobody && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            result = "cannot drop privileges";
        } else {
            try {
                result = Step();
            } catch (const EInOutError& e) {
                result = Describe(e);
            } catch (const std::exception& e) {
                result = std::string("exception: ") + e.what();
            }
        }
        const ssize_t written = ::write(writeEnd.Fd(), result.data(), result.size());
        ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    writeEnd.Close();
    std::string result;
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::read(readEnd.Fd(), buffer, sizeof buffer)) > 0) result.append(buffer, static_cast<size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result += " (child failed)";
    return result;
}

std::string RunAsNobody(const std::function<std::string()>& Step) { return RunInChild(Step, true); }

// Whether another program could take the lock that writing takes.
bool OthersMayWrite(const fs::path& File)
{
    TFileHandle other(::open(File.c_str(), O_RDONLY | O_CLOEXEC));
    return other.IsOpen() && ::flock(other.Fd(), LOCK_EX | LOCK_NB) == 0;
}

} // namespace filetests

using namespace filetests;

namespace {

class TextFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
        Dir = MakeTempDir();
    }
    void TearDown() override
    {
        std::setlocale(LC_CTYPE, "C");
        SetTextFileLocale("C");
        fs::remove_all(Dir);
    }
    fs::path File(const char* Name = "t.txt") const { return Dir / Name; }

    fs::path Dir;
};

std::vector<std::string> ReadLines(const fs::path& File, size_t Count)
{
    TTextFileReader reader(File);
    std::vector<std::string> lines;
    for (size_t i = 0; i < Count; ++i) lines.push_back(reader.ReadLine());
    reader.Close();
    return lines;
}

template <typename Step>
std::string ErrorOf(Step&& step)
{
    try {
        step();
    } catch (const EInOutError& e) {
        return Describe(e);
    }
    return "no error";
}

TEST_F(TextFileTest, WritesEveryLineWithCrLfOverAnyOldContent)
{
    WriteBytes(File(), "an older and longer content\r\nof two lines\r\n");
    TTextFileWriter writer(File());
    writer.WriteLine("COM1");
    writer.WriteLine("");
    writer.WriteLine(" 1 ");
    writer.Close();
    EXPECT_EQ(ReadBytes(File()), "COM1\r\n\r\n 1 \r\n");
}

struct ReadCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines; // the first four lines read
};

class ReadLineTest : public TextFileTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadLineTest, SplitsLinesByTheRules)
{
    WriteBytes(File(), GetParam().bytes);
    EXPECT_EQ(ReadLines(File(), 4), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Lines, ReadLineTest, testing::Values(
    ReadCase{"CrLfAndLoneLf", "a\r\nb\nc", {"a", "b", "c", ""}},
    ReadCase{"LoneCrDropped", "a\rb\r\r\nc\r", {"ab", "c", "", ""}},
    ReadCase{"EofByteEndsFile", "x\x1Ay\r\nz\r\n", {"x", "", "", ""}},
    ReadCase{"EmptyFile", "", {"", "", "", ""}},
    ReadCase{"EmptyLines", "\n\r\n", {"", "", "", ""}},
    ReadCase{"NothingTrimmed", "  a \t\r\n \r\n", {"  a \t", " ", "", ""}},
    ReadCase{"ByteOrderMarkKept", "\xEF\xBB\xBF" "COM1\r\n", {"\xEF\xBB\xBF" "COM1", "", "", ""}},
    // The CR ends the first read chunk; the line keeps the bytes of its limit.
    ReadCase{"CrLfAcrossReadChunks", std::string(4095, 'a') + "\r\nb", {std::string(1024, 'a'), "b", "", ""}},
    ReadCase{"NarrowEncoding", "\xD0\x96\xE2\x82\xAC\r\n\xFF!", {"Ж€", "\xEF\xBF\xBD!", "", ""}},
    ReadCase{"ReplacementCharacterIsOne", "\xEF\xBF\xBD\xC6\r\n", {"\xEF\xBF\xBD\xEF\xBF\xBD", "", "", ""}},
    ReadCase{"LineOfTheLimit", std::string(1024, 'a') + "\nb", {std::string(1024, 'a'), "b", "", ""}},
    ReadCase{"LongLineKeepsItsFirstBytes", std::string(1025, 'a') + "\r\nb", {std::string(1024, 'a'), "b", "", ""}},
    ReadCase{"CrsDoNotCountToTheLimit", std::string(1024, 'a') + "\r\r\nb", {std::string(1024, 'a'), "b", "", ""}},
    ReadCase{"HugeLineKeepsItsFirstBytes", "1\n" + std::string(20 << 20, 'z') + "\n3",
             {"1", std::string(1024, 'z'), "3", ""}},
    ReadCase{"CharacterAtTheLimitKept", std::string(1022, 'a') + "Ж\nb", {std::string(1022, 'a') + "Ж", "b", "", ""}},
    ReadCase{"CharacterCutByTheLimitDropped", std::string(1023, 'a') + "Ж\nb", {std::string(1023, 'a'), "b", "", ""}},
    ReadCase{"LongCharacterCutByTheLimitDropped", std::string(1022, 'a') + "€€\nb", {std::string(1022, 'a'), "b", "", ""}},
    ReadCase{"MalformedAtTheLimitStaysAnError", std::string(1023, 'a') + "\xFF" "Ж\nb",
             {std::string(1023, 'a') + "\xEF\xBF\xBD", "b", "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

struct EncodingCase {
    const char* name;
    std::function<std::string()> locale; // the locale the environment names
    std::string characterSet;
    std::string written; // "Жx€é" as written
    std::string read;    // what a line "\xC6\xD0\x96" reads as
};

class EncodingTest : public TextFileTest, public testing::WithParamInterface<EncodingCase> {};

// Only a real 8-bit locale makes a character the file cannot hold a '?'.
TEST_P(EncodingTest, TextFilesFollowTheLocaleOfTheStart)
{
    SetTextFileLocale(GetParam().locale().c_str());
    EXPECT_EQ(TextFileCharacterSet(), GetParam().characterSet);
    TTextFileWriter writer(File());
    writer.WriteLine("Жx€é");
    writer.Close();
    EXPECT_EQ(ReadBytes(File()), GetParam().written + "\r\n");

    WriteBytes(File(), "\xC6\xD0\x96\r\n");
    EXPECT_EQ(ReadLines(File(), 1), std::vector<std::string>{GetParam().read});
}

const std::string Utf8Written = "\xD0\x96x\xE2\x82\xAC\xC3\xA9";
const std::string Utf8Read = "\xEF\xBF\xBDЖ";

INSTANTIATE_TEST_SUITE_P(Locales, EncodingTest, testing::Values(
    EncodingCase{"C", [] { return "C"; }, "UTF-8", Utf8Written, Utf8Read},
    EncodingCase{"Posix", [] { return "POSIX"; }, "UTF-8", Utf8Written, Utf8Read},
    EncodingCase{"NotInstalled", [] { return "xx_XX.UTF-8"; }, "UTF-8", Utf8Written, Utf8Read},
    EncodingCase{"CUtf8", [] { return "C.UTF-8"; }, "UTF-8", Utf8Written, Utf8Read},
    EncodingCase{"Koi8r", [] { return EightBitLocale("KOI8-R"); }, "KOI8-R", "\xF6x??", "фп√"},
    EncodingCase{"Iso88595", [] { return EightBitLocale("ISO-8859-5"); }, "ISO-8859-5", "\xB6x??", "Ца\xC2\x96"},
    EncodingCase{"Cp1251", [] { return EightBitLocale("CP1251"); }, "CP1251", "\xC6x\x88?", "ЖР–"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextFileTest, LaterChangesOfTheProcessLocaleChangeNothing)
{
    const std::string koi8r = EightBitLocale("KOI8-R");
    SetTextFileLocale(koi8r.c_str());
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); // as a toolkit may do
    EXPECT_EQ(Utf8ToNarrow("Жx"), "\xF6x");

    SetTextFileLocale("C");
    ASSERT_NE(std::setlocale(LC_CTYPE, koi8r.c_str()), nullptr);
    EXPECT_EQ(Utf8ToNarrow("Жx"), "\xD0\x96x");
    EXPECT_EQ(NarrowToUtf8("\xD0\x96x"), "Жx");
}

// A line read and written again keeps its bytes: reading and writing once
// more changes nothing, also after an undecodable byte became U+FFFD.
TEST_F(TextFileTest, ReadThenWrittenLineKeepsItsBytes)
{
    const struct {
        std::string bytes, afterFirstRound;
    } cases[] = {
        {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},
        {"a\xEF\xBF\xBD\xEF\xBF\xBD b", "a\xEF\xBF\xBD\xEF\xBF\xBD b"},
        {"Адрес \xE2\x84\x96 7", "Адрес \xE2\x84\x96 7"},
        {"\xC1\xE0", "\xEF\xBF\xBD\xEF\xBF\xBD"}, // Windows-1251 "Ба" in a UTF-8 file
    };
    for (const auto& c : cases) {
        WriteBytes(File(), c.bytes + "\r\n");
        for (int round = 1; round <= 3; ++round) {
            const std::string line = ReadLines(File(), 1)[0];
            TTextFileWriter writer(File());
            writer.WriteLine(line);
            writer.Close();
            EXPECT_EQ(ReadBytes(File()), c.afterFirstRound + "\r\n") << "round " << round << ": " << c.bytes;
        }
    }
}

TEST_F(TextFileTest, Utf8LocaleWritesUtf8WithoutByteOrderMark)
{
    TTextFileWriter writer(File());
    writer.WriteLine("Журнал €");
    writer.Close();
    EXPECT_EQ(ReadBytes(File()), "\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB \xE2\x82\xAC\r\n");
}

struct ErrorCase {
    const char* name;
    std::function<void(const fs::path& Dir)> step;
    std::string error;
};

class FileErrorTest : public TextFileTest, public testing::WithParamInterface<ErrorCase> {};

TEST_P(FileErrorTest, RaisesTheTablesCodeAndMessage)
{
    fs::create_directory(Dir / "folder");
    EXPECT_EQ(ErrorOf([&] { GetParam().step(Dir); }), GetParam().error);
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1)
        << "a failing open created something";
}

INSTANTIATE_TEST_SUITE_P(Errors, FileErrorTest, testing::Values(
    ErrorCase{"MissingFile", [](const fs::path& d) { TTextFileReader r(d / "missing.txt"); },
              "EInOutError 2: File not found"},
    ErrorCase{"MissingFolderRead", [](const fs::path& d) { TTextFileReader r(d / "no" / "f.txt"); },
              "EInOutError 3: Invalid filename"},
    ErrorCase{"MissingFolderWrite", [](const fs::path& d) { TTextFileWriter w(d / "no" / "f.txt"); },
              "EInOutError 3: Invalid filename"},
    ErrorCase{"NameTooLong", [](const fs::path& d) { TTextFileWriter w(d / std::string(260, 'n')); },
              "EInOutError 3: Invalid filename"},
    ErrorCase{"EmptyName", [](const fs::path&) { TTextFileWriter w(""); },
              "EInOutError 3: Invalid filename"},
    ErrorCase{"ReadFolder", [](const fs::path& d) { TTextFileReader r(d / "folder"); },
              "EInOutError 5: File access denied"},
    ErrorCase{"WriteFolder", [](const fs::path& d) { TTextFileWriter w(d / "folder"); },
              "EInOutError 5: File access denied"},
    ErrorCase{"DiskFull", [](const fs::path&) { TTextFileWriter w("/dev/full"); w.WriteLine("x"); },
              "EInOutError 101: Disk full"},
    ErrorCase{"ReadCharacterDevice", [](const fs::path&) { TTextFileReader r("/dev/null"); r.ReadLine(); },
              "EInOutError 5: File access denied"},
    ErrorCase{"ReadFifo", [](const fs::path& d) {
                  if (::mkfifo((d / "folder" / "fifo").c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
                  TTextFileReader r(d / "folder" / "fifo");
                  r.ReadLine();
              },
              "EInOutError 5: File access denied"},
    ErrorCase{"ReadFailure", [](const fs::path&) { TTextFileReader r("/proc/self/mem"); r.ReadLine(); },
              "EInOutError 5: I/O error 5"},
    ErrorCase{"CloseTwice", [](const fs::path& d) { TTextFileWriter w(d / "f"); w.Close(); fs::remove(d / "f"); w.Close(); },
              "EInOutError 103: I/O error 103"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextFileTest, NameOf259CharactersIsAccepted)
{
    // Two-byte letters in the folder: the limit counts characters, not bytes.
    std::string folder;
    for (int i = 0; i < 120; ++i) folder += "ж";
    fs::create_directory(Dir / folder);
    const std::string prefix = (Dir / folder).string() + "/";
    const std::string name = prefix + std::string(259 - DecodeUtf8(prefix).size(), 'a');
    ASSERT_GT(name.size(), 259u);
    EXPECT_EQ(ErrorOf([&] { TTextFileWriter(name).Close(); }), "no error");
    EXPECT_EQ(ErrorOf([&] { TTextFileWriter(name + "a").Close(); }), "EInOutError 3: Invalid filename");
}

// A file nobody may read or write: refused for the owner, and as root for
// the user the step then runs as.
TEST_F(TextFileTest, RefusedPermissionIsAccessDenied)
{
    WriteBytes(File(), "secret\r\n");
    fs::permissions(File(), fs::perms::none);
    fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path file = File();
    EXPECT_EQ(RunAsNobody([&] { TTextFileReader r(file); return std::string("opened"); }),
              "EInOutError 5: File access denied");
    EXPECT_EQ(RunAsNobody([&] { TTextFileWriter w(file); return std::string("opened"); }),
              "EInOutError 5: File access denied");
    fs::permissions(File(), fs::perms::owner_read);
    EXPECT_EQ(ReadBytes(File()), "secret\r\n");
}

TEST_F(TextFileTest, TooManyOpenFiles)
{
    const fs::path file = File();
    WriteBytes(file, "");
    const std::string result = RunInChild([&] {
        // The sanitizer checks the first exception of a kind with files of
        // its own: let it do so before descriptors run out.
        Describe(EInOutError(0, ""));
        TFileHandle probe(::open("/dev/null", O_RDONLY | O_CLOEXEC)); // the lowest free descriptor
        const rlimit limit{static_cast<rlim_t>(probe.Fd()), static_cast<rlim_t>(probe.Fd())};
        probe.Close();
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return std::string("setrlimit failed");
        TTextFileReader reader(file);
        return std::string("opened");
    }, false);
    EXPECT_EQ(result, "EInOutError 4: Too many open files");
}

TEST_F(TextFileTest, OtherSystemErrorIsIoErrorAndReleasesTheFileAtOnce)
{
    const fs::path file = File();
    const std::string result = RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{10, 10};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
        TTextFileWriter writer(file);
        std::string outcome;
        try {
            writer.WriteLine("more than ten bytes");
        } catch (const EInOutError& e) {
            outcome = Describe(e);
        }
        outcome += OthersMayWrite(file) ? "; released" : "; still held";
        try {
            writer.WriteLine("x");
        } catch (const EInOutError& e) {
            outcome += "; then " + Describe(e);
        }
        return outcome;
    }, false);
    EXPECT_EQ(result, "EInOutError 27: I/O error 27; released; then EInOutError 103: I/O error 103");
    EXPECT_EQ(ReadBytes(file), "more than ");
}

TEST_F(TextFileTest, WhileWritingOthersMayReadButNotWrite)
{
    TTextFileWriter writer(File());
    writer.WriteLine("kept");
    EXPECT_EQ(ReadBytes(File()), "kept\r\n");
    EXPECT_FALSE(OthersMayWrite(File()));
    EXPECT_EQ(ErrorOf([&] { TTextFileWriter second(File()); }), "EInOutError 32: I/O error 32");
    EXPECT_EQ(ErrorOf([&] { TTextFileReader reader(File()); }), "EInOutError 32: I/O error 32");
    EXPECT_EQ(ReadBytes(File()), "kept\r\n") << "the refused writer truncated the file";
    writer.Close();
    EXPECT_TRUE(OthersMayWrite(File()));
}

TEST_F(TextFileTest, WhileReadingOthersMayReadButNotWrite)
{
    WriteBytes(File(), "a\r\n");
    TTextFileReader reader(File());
    EXPECT_EQ(ReadLines(File(), 1), std::vector<std::string>{"a"});
    EXPECT_FALSE(OthersMayWrite(File()));
    EXPECT_EQ(ErrorOf([&] { TTextFileWriter writer(File()); }), "EInOutError 32: I/O error 32");
    EXPECT_EQ(ReadBytes(File()), "a\r\n");
    reader.Close();
    EXPECT_TRUE(OthersMayWrite(File()));
}

} // namespace
