#include "tools/RequestFramer.h"

#include "protocol/MyModbusUtils.h"

#include <algorithm>

namespace SimDevice {

namespace {

// Longer than any request and any sane burst of garbage; older bytes go.
constexpr size_t MaxBuffer = 512;

bool ChecksumHolds(std::span<const uint8_t> Frame)
{
    return MyModbusUtils::Crc16(Frame, 0, static_cast<int32_t>(Frame.size())) == 0;
}

} // namespace

std::optional<size_t> RequestLength(uint8_t FunctionCode)
{
    switch (FunctionCode) {
    case 0x11: return 4;
    case 0x03:
    case 0x04: return 8;
    case 0x41: return 11;
    default: return std::nullopt;
    }
}

std::vector<FramerEvent> RequestFramer::Push(std::span<const uint8_t> Bytes)
{
    std::vector<FramerEvent> events;
    FBuffer.insert(FBuffer.end(), Bytes.begin(), Bytes.end());
    if (FBuffer.size() > MaxBuffer) Drop(FBuffer.size() - MaxBuffer);
    Scan(events);
    EndGarbage(events);
    return events;
}

std::vector<FramerEvent> RequestFramer::Flush()
{
    std::vector<FramerEvent> events;
    while (!FBuffer.empty()) DropFirst(FBuffer.size(), events);
    EndGarbage(events);
    return events;
}

void RequestFramer::Clear()
{
    FBuffer.clear();
    FGarbage.clear();
    FReported = 0;
}

// Whether a request of known length starts at Start and is all in.
bool RequestFramer::CompleteAt(size_t Start) const
{
    if (Start + 1 >= FBuffer.size()) return false;
    const auto length = RequestLength(FBuffer[Start + 1]);
    return length && Start + *length <= FBuffer.size();
}

std::optional<size_t> RequestFramer::FirstValidRequest() const
{
    for (size_t start = 0; start + 1 < FBuffer.size(); ++start) {
        if (CompleteAt(start) && ChecksumHolds(std::span(FBuffer).subspan(start, *RequestLength(FBuffer[start + 1]))))
            return start;
    }
    return std::nullopt;
}

void RequestFramer::Scan(std::vector<FramerEvent>& Events)
{
    while (FBuffer.size() >= 2) {
        if (const auto start = FirstValidRequest()) {
            for (size_t left = *start; left > 0; --left) DropFirst(left, Events);
            EndGarbage(Events);
            const size_t length = *RequestLength(FBuffer[1]);
            Events.push_back(
                {FramerEvent::TKind::Request, {FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(length)}});
            FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(length));
            FReported = 0;
        } else if (RequestLength(FBuffer[1]) && !CompleteAt(0)) {
            break; // the start of a request: wait for the rest
        } else {
            DropFirst(FBuffer.size(), Events);
        }
    }
}

// Drops the first byte, which starts no good request. When a whole request
// with a bad checksum starts there and lies within the first Within bytes, it
// is reported as such, and its bytes are not reported again as garbage.
void RequestFramer::DropFirst(size_t Within, std::vector<FramerEvent>& Events)
{
    if (FReported == 0 && CompleteAt(0) && *RequestLength(FBuffer[1]) <= Within) {
        const size_t length = *RequestLength(FBuffer[1]);
        EndGarbage(Events);
        Events.push_back(
            {FramerEvent::TKind::BadChecksum, {FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(length)}});
        FReported = length;
    }
    Drop(1);
}

void RequestFramer::Drop(size_t Count)
{
    for (size_t i = 0; i < Count; ++i) {
        if (FReported > 0) {
            --FReported;
        } else {
            FGarbage.push_back(FBuffer[i]);
        }
    }
    FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(Count));
}

void RequestFramer::EndGarbage(std::vector<FramerEvent>& Events)
{
    if (FGarbage.empty()) return;
    Events.push_back({FramerEvent::TKind::Garbage, std::move(FGarbage)});
    FGarbage.clear();
}

} // namespace SimDevice
