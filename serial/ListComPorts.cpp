#include "serial/ListComPorts.h"

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <system_error>

#include "runtime/TextFile.h"

namespace fs = std::filesystem;

namespace {

// A port the kernel reports without hardware behind it is left out: an entry
// with no device or whose device has no driver bound, and a serial_core port
// whose UART type is 0 (the slots the 8250 driver reserves whether or not a
// UART answers there). Asking the port itself would mean opening it, which
// moves its DTR and RTS lines.
bool HasHardware(const fs::path& Entry)
{
    std::error_code error;
    if (!fs::exists(Entry / "device" / "driver", error)) return false;
    std::ifstream typeFile(Entry / "type");
    if (!typeFile) return true; // not a serial_core port: nothing to ask
    std::string type;
    typeFile >> type;
    return type != "0";
}

// sysfs writes a '/' of a device name as '!'.
std::string DevicePath(const fs::path& DevRoot, std::string Name)
{
    std::replace(Name.begin(), Name.end(), '!', '/');
    return (DevRoot / Name).string();
}

wint_t Folded(char32_t CodePoint)
{
    return std::towlower(static_cast<wint_t>(CodePoint));
}

} // namespace

bool ComPortNameLess(std::string_view Left, std::string_view Right)
{
    const std::u32string left = DecodeUtf8(Left);
    const std::u32string right = DecodeUtf8(Right);
    return std::lexicographical_compare(
        left.begin(), left.end(), right.begin(), right.end(),
        [](char32_t a, char32_t b) { return Folded(a) < Folded(b); });
}

void SortComPorts(std::vector<std::string>& Names)
{
    std::stable_sort(Names.begin(), Names.end(),
                     [](const std::string& a, const std::string& b) { return ComPortNameLess(a, b); });
}

bool ComPortPresent(const std::string& Port, const fs::path& DevRoot)
{
    if (Port.empty()) return false;
    const fs::path path = Port.find('/') == std::string::npos ? DevRoot / Port : fs::path(Port);
    std::error_code error;
    return fs::is_character_file(path, error);
}

void ListComPorts(std::vector<std::string>& Target, const fs::path& SysRoot, const fs::path& DevRoot)
{
    std::error_code error;
    fs::directory_iterator entry(SysRoot / "class" / "tty", error);
    if (error) return;
    std::vector<std::string> names;
    // A failure part-way ends the listing with the names found so far.
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        if (HasHardware(entry->path()))
            names.push_back(DevicePath(DevRoot, entry->path().filename().string()));
    }
    SortComPorts(names);
    Target = std::move(names);
}
