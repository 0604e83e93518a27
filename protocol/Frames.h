#pragma once
// The four requests the tool sends and the answers it understands.
//
// Requests end in the two checksum bytes of Crc16 over everything before
// them, high byte first. Answers are given to the decoders as exactly the
// bytes received: the last two are the answer's checksum and never part of a
// value.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace Frames {

inline constexpr uint8_t fnReadHoldingRegisters = 0x03;
inline constexpr uint8_t fnReadInputRegisters = 0x04;
inline constexpr uint8_t fnReportSlaveId = 0x11;
inline constexpr uint8_t fnReadRecord = 0x41;
inline constexpr uint8_t ExceptionBit = 0x80;

// The longest answer the tool takes: the receive buffer holds 256 bytes and
// one answer fills at most 255 of them.
inline constexpr size_t MaxAnswerLength = 255;
// Address, function code, two checksum bytes and at least one byte between.
inline constexpr size_t MinAnswerLength = 5;

// Every request carries the low 8 bits of the device address.
std::array<uint8_t, 4> IdentifyRequest(int32_t DeviceAddress);
std::array<uint8_t, 8> SerialNumberRequest(int32_t DeviceAddress);
std::array<uint8_t, 8> RecordCountRequest(int32_t DeviceAddress);
// The record index goes out as a 16-bit big-endian number (its low 16 bits).
std::array<uint8_t, 11> RecordRequest(int32_t DeviceAddress, int32_t RecordIndex);

enum class TAnswerKind : uint8_t {
    akIdentify,        // 0x11
    akSerialNumber,    // 0x03
    akRecordCount,     // 0x04
    akRecord,          // 0x41
    akRecordException, // 0xC1
    akOther            // not acted on
};

// Chosen by the function code (position 1) alone.
TAnswerKind AnswerKind(std::span<const uint8_t> Answer);

// At least five bytes, and Crc16 over the whole answer, checksum included, is 0.
bool AnswerVerifies(std::span<const uint8_t> Answer);

// The length that the answer's function code fixes, once enough of it is in:
// 5 + byte count for 0x03, 0x04 and 0x11; 5 for their exception answers and
// 0xC1. Empty when the length is not fixed (0x41, unknown codes) or not
// known yet.
std::optional<size_t> FixedAnswerLength(std::span<const uint8_t> BytesSoFar);

// Positions 3 up to the smaller of 21 and the last byte before the checksum,
// cut at the first zero; each byte is the character of the same code point.
std::string VersionText(std::span<const uint8_t> Answer);
// Positions 3..6 as a signed big-endian 32-bit number, in decimal.
std::string SerialNumberText(std::span<const uint8_t> Answer);
// Positions 3..4 as an unsigned big-endian 16-bit number.
int32_t RecordCount(std::span<const uint8_t> Answer);
// Positions 3 up to the last byte before the checksum, cut at the first
// zero, decoded from Windows-1251.
std::string RecordText(std::span<const uint8_t> Answer);

} // namespace Frames
