#include "TestLocales.h"

#include <cstdlib>
#include <filesystem>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

namespace {

// The folder, removed with everything in it when the test program ends.
class TLocaleFolder {
public:
    TLocaleFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "test_locales.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
    }
    TLocaleFolder(const TLocaleFolder&) = delete;
    TLocaleFolder& operator=(const TLocaleFolder&) = delete;
    ~TLocaleFolder()
    {
        std::error_code ignored;
        fs::remove_all(FPath, ignored);
    }
    const fs::path& Path() const { return FPath; }

private:
    fs::path FPath;
};

const TLocaleFolder& Folder()
{
    static const TLocaleFolder folder;
    return folder;
}

void RunLocaledef(const std::string& Charmap, const fs::path& Output)
{
    std::vector<std::string> args{"localedef", "-f", Charmap, "-i", "ru_RU", Output.string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "localedef", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start localedef (Debian package locales)");
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("localedef could not build ru_RU." + Charmap);
}

} // namespace

// glibc's newlocale does not free its copy of LOCPATH (one per call while it
// is set, as it is only for these locales). Nothing else allocates there.
// The frame is __argz_add_sep with libc's debug symbols, argz_add_sep
// without; a suppression matches either as a part of the name.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:argz_add_sep\n";
}

std::string TestLocaleFolder() { return Folder().Path().string(); }

std::string EightBitLocale(const std::string& Charmap)
{
    static std::set<std::string> built;
    const std::string name = "ru_RU." + Charmap;
    if (!built.contains(Charmap)) {
        RunLocaledef(Charmap, Folder().Path() / name);
        built.insert(Charmap);
    }
    ::setenv("LOCPATH", TestLocaleFolder().c_str(), 1);
    return name;
}
