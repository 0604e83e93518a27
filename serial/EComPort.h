#pragma once
// The one exception every failure of the serial port component raises.

#include <cstdint>
#include <string>

#include "runtime/Exceptions.h"

// Code n has ordinal n - 1.
enum class TComExceptions : uint8_t {
    CE_OpenFailed, CE_WriteFailed, CE_ReadFailed, CE_InvalidAsync, CE_PurgeFailed, CE_AsyncCheck,
    CE_SetStateFailed, CE_TimeoutsFailed, CE_SetupComFailed, CE_ClearComFailed, CE_ModemStatFailed,
    CE_EscapeComFailed, CE_TransmitFailed, CE_ConnChangeProp, CE_EnumPortsFailed, CE_StoreFailed,
    CE_LoadFailed, CE_RegFailed, CE_LedStateFailed, CE_ThreadCreated, CE_WaitFailed, CE_HasLink,
    CE_RegError, CEPortNotOpen
};

inline constexpr int32_t ComErrorCount = 24;

// The fixed text of an error code (1..24); empty for any other code.
std::string ComErrorMessage(int32_t Code);

class EComPort : public Exception {
public:
    // The code's text followed by " (Error: <system error number>)".
    EComPort(int32_t ACode, int32_t AWinCode);
    // The code's text alone; WinCode is -1.
    static EComPort CreateNoWinCode(int32_t ACode);

    int32_t WinCode() const noexcept { return FWinCode; }
    int32_t Code() const noexcept { return FCode; }

private:
    EComPort(int32_t ACode, int32_t AWinCode, std::string Message);

    int32_t FWinCode;
    int32_t FCode;
};
