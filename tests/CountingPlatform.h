#pragma once
// The system's serial platform with a count of what reaches the device, and
// refusals on demand.

#include <map>
#include <memory>
#include <string>

#include "serial/platform/SerialPlatform.h"

struct TDeviceCalls {
    int Opens = 0;
    int SetupComm = 0;
    int SetCommState = 0;
    int SetCommTimeouts = 0;
    SerialPlatform::TLineSettings LastState;
    SerialPlatform::TCommTimeouts LastTimeouts;
    int32_t LastInQueue = 0, LastOutQueue = 0;
    // A call named here fails with this error number.
    std::map<std::string, int> Refuse;
    int Total() const { return SetupComm + SetCommState + SetCommTimeouts; }
};

class TCountingPlatform : public SerialPlatform::TPlatform {
public:
    int OpenDevice(const std::string& Name, std::unique_ptr<SerialPlatform::TDevice>& Device) override;
    std::string ErrorText(int Error) const override { return System().ErrorText(Error); }
    TDeviceCalls Calls;
};
