#pragma once
// The Modbus RTU frame checksum, table-driven.

#include <array>
#include <cstdint>
#include <span>

namespace MyModbusUtils {

// T(i): i shifted right eight times, XOR 0xA001 after every shift that drops
// a 1. The high-order table holds T(i)'s low byte, the low-order table its
// high byte.
constexpr uint16_t CrcTableEntry(uint16_t i)
{
    uint16_t value = i;
    for (int bit = 0; bit < 8; ++bit)
        value = (value & 1u) ? static_cast<uint16_t>((value >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(value >> 1);
    return value;
}

constexpr std::array<uint8_t, 256> MakeCrcTable(bool HighByteOfEntry)
{
    std::array<uint8_t, 256> table{};
    for (uint16_t i = 0; i < 256; ++i) {
        const uint16_t entry = CrcTableEntry(i);
        table[i] = static_cast<uint8_t>(HighByteOfEntry ? entry >> 8 : entry & 0xFFu);
    }
    return table;
}

inline constexpr std::array<uint8_t, 256> CrcHighOrderTable = MakeCrcTable(false);
inline constexpr std::array<uint8_t, 256> CrcLowOrderTable = MakeCrcTable(true);

// The checksum of Count bytes of Data from position Start: the conventional
// CRC-16/MODBUS with its two bytes exchanged, so the high byte goes first on
// the line. Count of 0 or less gives 0xFFFF. Callers keep Start + Count
// within Data.
constexpr uint16_t Crc16(std::span<const uint8_t> Data, int32_t Start, int32_t Count)
{
    uint8_t hi = 0xFF;
    uint8_t lo = 0xFF;
    for (int32_t pos = Start; pos < Start + Count; ++pos) {
        const uint8_t i = Data[static_cast<size_t>(pos)] ^ hi;
        hi = CrcHighOrderTable[i] ^ lo;
        lo = CrcLowOrderTable[i];
    }
    return static_cast<uint16_t>(hi << 8 | lo);
}

} // namespace MyModbusUtils
