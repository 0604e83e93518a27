#pragma once
// The serial ports present, as the kernel reports them in sysfs.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Replaces Target's content with the sorted names ("/dev/ttyUSB0") of the
// serial ports that have a driver behind them: UARTs (a serial_core port
// whose type is 0 has no hardware and is left out), USB serial adapters, CDC
// ACM devices and the like. Terminals without a device (consoles, tty,
// pseudo-terminals) are never listed. When SysRoot holds no class/tty
// folder, Target keeps its content. Raises nothing of its own.
void ListComPorts(std::vector<std::string>& Target,
                  const std::filesystem::path& SysRoot = "/sys",
                  const std::filesystem::path& DevRoot = "/dev");

// Whether a port of that name is there to be opened, listed or not: a
// character device (a name without '/' is taken under DevRoot, as the port
// opens it); on Windows a device name the system knows.
bool ComPortPresent(const std::string& Port, const std::filesystem::path& DevRoot = "/dev");

// The order of the port list: whole names compared character by character,
// letter case ignored, so "ttyS10" comes before "ttyS2" and a name before
// every longer name that begins with it.
bool ComPortNameLess(std::string_view Left, std::string_view Right);

// Sorts by ComPortNameLess; names equal but for case keep their order.
void SortComPorts(std::vector<std::string>& Names);
