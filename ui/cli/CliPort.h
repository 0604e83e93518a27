#pragma once
// The serial port as the command line hands it to the exchange controller:
// set up as the window stores it, optionally with every frame traced.

#include <cstdint>
#include <span>
#include <string>

#include "protocol/ExchangeOperations.h"
#include "serial/ComPort.h"

class TCliTrace;

// The window's stored settings: 8 data bits, no parity, one stop bit, no
// flow control, DTR and RTS held off, every line event watched.
void ConfigureComPort(TComPort& Port);

// The port operations the exchange controller uses, served by a TComPort.
class TComPortExchange : public IExchangePort {
public:
    explicit TComPortExchange(TComPort& Port) : FPort(Port) {}
    void SetPort(const std::string& Port) override { FPort.SetPort(Port); }
    void SetBaudRate(TBaudRate BaudRate) override { FPort.SetBaudRate(BaudRate); }
    void Open() override { FPort.Open(); }
    void Close() override { FPort.Close(); }
    int32_t Write(std::span<const uint8_t> Buffer) override;
    int32_t Read(std::span<uint8_t> Buffer) override;
    void ClearBuffer(bool Input, bool Output) override { FPort.ClearBuffer(Input, Output); }

private:
    TComPort& FPort;
};

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
