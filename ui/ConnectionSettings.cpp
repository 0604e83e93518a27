#include "ui/ConnectionSettings.h"

#include <algorithm>
#include <system_error>

#include "runtime/TextCompare.h"
#include "runtime/TextFile.h"
#include "serial/ListComPorts.h"

namespace fs = std::filesystem;

namespace {

constexpr char SettingsFile[] = "Settings.txt";
constexpr int32_t DefaultSpeedIndex = 4; // "19200"
constexpr char DefaultAddress[] = "1";

// Anything but a folder counts, also a file that another program holds open.
bool SettingsFileExists()
{
    std::error_code error;
    const fs::file_status status = fs::status(SettingsFile, error);
    return fs::exists(status) && !fs::is_directory(status);
}

// Every entry is compared, so of several equal ones the last is found.
int32_t LastMatch(const std::vector<std::string>& Items, const std::string& Text)
{
    int32_t found = -1;
    for (size_t i = 0; i < Items.size(); ++i)
        if (LocaleTextEqual(Items[i], Text)) found = static_cast<int32_t>(i);
    return found;
}

// The kernel lists no virtual or renamed ports: a remembered one that exists
// joins the list so that it can be selected again.
bool AddRememberedPort(std::vector<std::string>& Ports, const std::string& Port,
                       const fs::path& DevRoot)
{
    // A name the list holds in another letter case is listed: the list's
    // order does not tell them apart, and neither do Windows' port names.
    const bool listed = std::any_of(Ports.begin(), Ports.end(), [&](const std::string& Listed) {
        return !ComPortNameLess(Listed, Port) && !ComPortNameLess(Port, Listed);
    });
    if (listed || !ComPortPresent(Port, DevRoot)) return false;
    Ports.push_back(Port);
    SortComPorts(Ports);
    return true;
}

} // namespace

void ReadConnectionSettings(IConnectionControls& Window, const fs::path& SysRoot,
                            const fs::path& DevRoot)
{
    if (!SettingsFileExists()) TTextFileWriter(SettingsFile).Close();
    TTextFileReader file(SettingsFile);

    std::vector<std::string> ports = Window.ComItems();
    ListComPorts(ports, SysRoot, DevRoot);
    Window.SetComItems(ports);

    const std::string port = file.ReadLine();
    if (AddRememberedPort(ports, port, DevRoot)) Window.SetComItems(ports);
    const int32_t portIndex = LastMatch(ports, port);
    Window.SetComIndex(portIndex >= 0 || ports.empty() ? portIndex : 0);

    const std::vector<std::string> speeds = Window.SpeedItems();
    const int32_t speedIndex = LastMatch(speeds, file.ReadLine());
    const bool hasDefaultSpeed = static_cast<size_t>(DefaultSpeedIndex) < speeds.size();
    Window.SetSpeedIndex(speedIndex >= 0 || !hasDefaultSpeed ? speedIndex : DefaultSpeedIndex);

    const std::string address = file.ReadLine();
    Window.SetAdderText(address.empty() ? DefaultAddress : address);

    file.Close();
}

void WriteConnectionSettings(const IConnectionControls& Window)
{
    TTextFileWriter file(SettingsFile);
    file.WriteLine(Window.ComText());
    file.WriteLine(Window.SpeedText());
    file.WriteLine(Window.AdderText());
    file.Close();
}
