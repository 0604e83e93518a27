#pragma once
// The command line's port operations: every frame traced on its way.

#include <cstdint>
#include <span>
#include <string>

#include "ui/ComPortExchange.h"

class TCliTrace;

// Passes every operation on and traces what went out and what came in.
class TTracedExchange : public IExchangePort {
public:
    TTracedExchange(IExchangePort& Port, TCliTrace& Trace) : FPort(Port), FTrace(Trace) {}
    void SetPort(const std::string& Port) override;
    void SetBaudRate(TBaudRate BaudRate) override;
    void Open() override;
    void Close() override;
    int32_t Write(std::span<const uint8_t> Buffer) override;
    int32_t Read(std::span<uint8_t> Buffer) override;
    void ClearBuffer(bool Input, bool Output) override;

private:
    IExchangePort& FPort;
    TCliTrace& FTrace;
    std::string FPortName;
    TBaudRate FBaudRate = TBaudRate::br9600;
    bool FOpen = false;
};
