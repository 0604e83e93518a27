#pragma once
// The connection settings file "Settings.txt" in the working directory: the
// port, the speed and the device address of the last connect, one per line.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The window's Com, Speed and Adder controls. An index of -1 selects nothing.
class IConnectionControls {
public:
    virtual ~IConnectionControls() = default;

    virtual std::vector<std::string> ComItems() const = 0;
    // Replaces the entries; afterwards nothing is selected.
    virtual void SetComItems(const std::vector<std::string>& Items) = 0;
    virtual void SetComIndex(int32_t Index) = 0;
    // The selected entry, empty when none is selected.
    virtual std::string ComText() const = 0;

    // The eight fixed entries "1200" ... "115200".
    virtual std::vector<std::string> SpeedItems() const = 0;
    virtual void SetSpeedIndex(int32_t Index) = 0;
    virtual std::string SpeedText() const = 0;

    virtual std::string AdderText() const = 0;
    virtual void SetAdderText(const std::string& Text) = 0;
};

// Creates an empty "Settings.txt" when there is none, fills Com with the
// ports present (ListComPorts under SysRoot and DevRoot), and selects the
// remembered port and speed and sets the remembered address: each line
// matched exactly, the last equal entry winning; otherwise the first port,
// "19200" and "1". A remembered port the list lacks is added when it exists
// as a character device (a pseudo-terminal, a /dev/serial/by-id link).
// Raises EInOutError when a file step fails.
void ReadConnectionSettings(IConnectionControls& Window,
                            const std::filesystem::path& SysRoot = "/sys",
                            const std::filesystem::path& DevRoot = "/dev");

// Rewrites "Settings.txt" with the selected port, the selected speed and the
// address text. Raises EInOutError when a file step fails.
void WriteConnectionSettings(const IConnectionControls& Window);
