#pragma once
// What the metering device answers to each request.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace SimDevice {

using Bytes = std::vector<uint8_t>;

struct Identity {
    uint8_t Address = 1;
    Bytes Version; // identification bytes, at most 250
    int32_t Serial = 0;
};

// What a record answer carries at position 2, after the address and the
// function code.
enum class CountByte : uint8_t {
    Text,   // the length of the record text
    All,    // the number of bytes after it: the text and the checksum
    Zero,   // always 0
    Random, // a byte that tells nothing, fixed per record index and seed
};

struct Reply {
    std::optional<Bytes> Answer; // empty: the device stays silent
    bool IsRecordAnswer = false; // an answer to 0x41, the exception included
    std::string Note;            // what the device made of the request, for the log
};

// Appends the checksum: high byte, then low byte.
Bytes WithChecksum(Bytes Frame);

class Device {
public:
    // Records are Windows-1251 texts of at most 250 bytes; at most 65535 of them.
    Device(Identity Id, std::vector<Bytes> Records, CountByte Count = CountByte::Text, uint32_t Seed = 1);

    // Request is a whole frame whose checksum holds.
    Reply Respond(std::span<const uint8_t> Request) const;

    const std::vector<Bytes>& Records() const { return FRecords; }

private:
    Reply Identify() const;
    Reply SerialNumber(std::span<const uint8_t> Request) const;
    Reply RecordCount(std::span<const uint8_t> Request) const;
    Reply Record(std::span<const uint8_t> Request) const;
    Reply Exception(uint8_t FunctionCode, uint8_t Code, std::string Note, bool IsRecordAnswer = false) const;

    uint8_t RecordCountByte(uint16_t Index, size_t TextLength) const;

    Identity FId;
    std::vector<Bytes> FRecords;
    CountByte FCount;
    uint32_t FSeed;
};

} // namespace SimDevice
