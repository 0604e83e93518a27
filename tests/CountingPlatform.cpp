#include "CountingPlatform.h"

using namespace SerialPlatform;

namespace {

class TCountingDevice : public TDevice {
public:
    TCountingDevice(std::unique_ptr<TDevice> Real, TDeviceCalls& Calls) : FReal(std::move(Real)), FCalls(Calls) {}
    uintptr_t Handle() const override { return FReal->Handle(); }
    int SetupComm(int32_t In, int32_t Out) override
    {
        ++FCalls.SetupComm;
        FCalls.LastInQueue = In;
        FCalls.LastOutQueue = Out;
        return Refused("SetupComm", FReal->SetupComm(In, Out));
    }
    int SetCommState(const TLineSettings& s) override
    {
        ++FCalls.SetCommState;
        FCalls.LastState = s;
        return Refused("SetCommState", FReal->SetCommState(s));
    }
    int SetCommTimeouts(const TCommTimeouts& t) override
    {
        ++FCalls.SetCommTimeouts;
        FCalls.LastTimeouts = t;
        return Refused("SetCommTimeouts", FReal->SetCommTimeouts(t));
    }
    int StartWrite(TTransfer& t, std::span<const uint8_t> d) override { return FReal->StartWrite(t, d); }
    int StartRead(TTransfer& t, std::span<uint8_t> b) override { return FReal->StartRead(t, b); }
    int FinishTransfer(TTransfer& t, uint32_t& m) override { return FReal->FinishTransfer(t, m); }
    int Purge(uint32_t f) override { return Refused("Purge", FReal->Purge(f)); }
    int ClearCommError(uint32_t& e, TComStat& s) override { return Refused("ClearCommError", FReal->ClearCommError(e, s)); }
    int GetCommModemStatus(uint32_t& s) override { return Refused("GetCommModemStatus", FReal->GetCommModemStatus(s)); }
    int SetCommMask(uint32_t m) override { return FReal->SetCommMask(m); }
    int WaitCommEvent(uint32_t& m, const TStopSignal& s, bool& stopped) override
    {
        return FReal->WaitCommEvent(m, s, stopped);
    }

private:
    int Refused(const std::string& Call, int Result) const
    {
        const auto it = FCalls.Refuse.find(Call);
        return it != FCalls.Refuse.end() ? it->second : Result;
    }
    std::unique_ptr<TDevice> FReal;
    TDeviceCalls& FCalls;
};

} // namespace

int TCountingPlatform::OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device)
{
    ++Calls.Opens;
    std::unique_ptr<TDevice> real;
    if (const int error = System().OpenDevice(Name, real)) return error;
    Device = std::make_unique<TCountingDevice>(std::move(real), Calls);
    return 0;
}
