#include "WinTestHelpers.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace wintests {

std::filesystem::path MakeTempDir()
{
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const auto dir = base / ("actionlog-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(::GetTickCount64()) + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(dir)) return dir;
    }
    throw std::runtime_error("no temporary folder");
}

std::string ReadBytes(const std::filesystem::path& File)
{
    std::ifstream in(File, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& File, std::string_view Bytes)
{
    std::ofstream out(File, std::ios::binary | std::ios::trunc);
    out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

bool RunningUnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

std::string HarnessSetting(const char* Name)
{
    const char* value = std::getenv(Name);
    return value ? value : "";
}

} // namespace wintests
