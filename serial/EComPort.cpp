#include "serial/EComPort.h"

#include <array>
#include <string_view>

#include "runtime/Convert.h"

namespace {

// Filled once, before any component can fail.
constexpr std::array<std::string_view, ComErrorCount> Messages = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

} // namespace

std::string ComErrorMessage(int32_t Code)
{
    if (Code < 1 || Code > ComErrorCount) return {};
    return std::string(Messages[static_cast<size_t>(Code - 1)]);
}

EComPort::EComPort(int32_t ACode, int32_t AWinCode)
    : EComPort(ACode, AWinCode, ComErrorMessage(ACode) + " (Error: " + IntToStr(AWinCode) + ")")
{
}

EComPort::EComPort(int32_t ACode, int32_t AWinCode, std::string Message)
    : Exception(std::move(Message)), FWinCode(AWinCode), FCode(ACode)
{
}

EComPort EComPort::CreateNoWinCode(int32_t ACode)
{
    return EComPort(ACode, -1, ComErrorMessage(ACode));
}
