#pragma once
// Cuts the bytes the master sends into requests.
//
// A request's length follows from its function code (position 1): 4 bytes for
// 0x11, 8 for 0x03 and 0x04, 11 for 0x41. A request counts only when its
// checksum holds. Bytes that start no request are dropped one at a time until
// one does (resynchronisation), so garbage before a request costs nothing but
// the garbage. A request is taken as soon as it is complete anywhere in the
// buffer, so a garbage prefix that looks like the start of a longer request
// never holds back a complete one behind it.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace SimDevice {

struct FramerEvent {
    enum class TKind : uint8_t {
        Request,     // a whole request whose checksum holds
        BadChecksum, // a whole request whose checksum fails; no answer
        Garbage      // bytes dropped because they start no request
    };
    TKind Kind;
    std::vector<uint8_t> Bytes;

    bool operator==(const FramerEvent&) const = default;
};

// The request length a function code fixes; empty for a code the device does
// not know.
std::optional<size_t> RequestLength(uint8_t FunctionCode);

class RequestFramer {
public:
    // Takes newly received bytes and returns what they completed, in order.
    std::vector<FramerEvent> Push(std::span<const uint8_t> Bytes);
    // The line has been silent for 3.5 characters: whatever is still waiting
    // will never become a request.
    std::vector<FramerEvent> Flush();
    bool Pending() const { return !FBuffer.empty(); }
    void Clear();

private:
    void Scan(std::vector<FramerEvent>& Events);
    std::optional<size_t> FirstValidRequest() const;
    bool CompleteAt(size_t Start) const;
    void DropFirst(size_t Within, std::vector<FramerEvent>& Events);
    void Drop(size_t Count);
    void EndGarbage(std::vector<FramerEvent>& Events);

    std::vector<uint8_t> FBuffer;
    std::vector<uint8_t> FGarbage;
    // Leading bytes of the buffer that belong to a request already reported
    // as bad, so dropping them is not reported again as garbage.
    size_t FReported = 0;
};

} // namespace SimDevice
