#include "ui/ComPortExchange.h"

#include "serial/ComText.h"

void ConfigureComPort(TComPort& Port)
{
    Port.BeginLoading();
    Port.Name = "ComPort1";
    Port.SetBaudRate(TBaudRate::br9600);
    Port.SetPort("COM1");
    Port.Parity().SetBits(TParityBits::prNone);
    Port.SetStopBits(TStopBits::sbOneStopBit);
    Port.SetDataBits(TDataBits::dbEight);
    Port.SetEvents(AllComEvents);
    Port.FlowControl().SetOutCTSFlow(false);
    Port.FlowControl().SetOutDSRFlow(false);
    Port.FlowControl().SetControlDTR(TDTRFlowControl::dtrDisable);
    Port.FlowControl().SetControlRTS(TRTSFlowControl::rtsDisable);
    Port.FlowControl().SetXonXoffOut(false);
    Port.FlowControl().SetXonXoffIn(false);
    Port.SetTriggersOnRxChar(true);
    Port.EndLoading();
}

int32_t TComPortExchange::Write(std::span<const uint8_t> Buffer)
{
    return FPort.Write(Buffer.data(), static_cast<int32_t>(Buffer.size()));
}

int32_t TComPortExchange::Read(std::span<uint8_t> Buffer)
{
    return FPort.Read(Buffer.data(), static_cast<int32_t>(Buffer.size()));
}
