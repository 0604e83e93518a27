#include "ui/cli/CliPort.h"

#include "serial/ComText.h"
#include "ui/cli/CliTrace.h"

void TTracedExchange::SetPort(const std::string& Port)
{
    FPortName = Port;
    FPort.SetPort(Port);
}

void TTracedExchange::SetBaudRate(TBaudRate BaudRate)
{
    FBaudRate = BaudRate;
    FPort.SetBaudRate(BaudRate);
}

void TTracedExchange::Open()
{
    try {
        FPort.Open();
    } catch (const std::exception& e) {
        FTrace.Line("open " + FPortName + " failed: " + e.what());
        throw;
    }
    FOpen = true;
    FTrace.Line("open " + FPortName + " at " + BaudRateToText(FBaudRate) + " bit/s");
}

void TTracedExchange::Close()
{
    FPort.Close();
    if (FOpen) FTrace.Line("closed");
    FOpen = false;
}

int32_t TTracedExchange::Write(std::span<const uint8_t> Buffer)
{
    try {
        const int32_t written = FPort.Write(Buffer);
        FTrace.Sent(Buffer);
        return written;
    } catch (const std::exception& e) {
        FTrace.Line(std::string("write failed: ") + e.what());
        throw;
    }
}

int32_t TTracedExchange::Read(std::span<uint8_t> Buffer)
{
    try {
        const int32_t count = FPort.Read(Buffer);
        if (count > 0) FTrace.Received(Buffer.first(static_cast<size_t>(count)));
        return count;
    } catch (const std::exception& e) {
        FTrace.Line(std::string("read failed: ") + e.what());
        throw;
    }
}

void TTracedExchange::ClearBuffer(bool Input, bool Output)
{
    FPort.ClearBuffer(Input, Output);
}
