#pragma once
// The serial port as every front end hands it to the exchange controller:
// set up as the window stores it, and served through the controller's port
// operations.

#include <cstdint>
#include <span>
#include <string>

#include "protocol/ExchangeOperations.h"
#include "serial/ComPort.h"

// The window's stored settings: 9600 bit/s on "COM1" until a connect says
// otherwise, 8 data bits, no parity, one stop bit, no flow control, DTR and
// RTS held off, every line event watched, a receive notification per
// arrival. The receive handler is the caller's to set.
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
