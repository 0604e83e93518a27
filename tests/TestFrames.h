#pragma once
// Answers as a device sends them, for the protocol tests.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/MyModbusUtils.h"

using Bytes = std::vector<uint8_t>;

// Appends the checksum a device puts at the end of its answer.
inline Bytes Framed(Bytes Frame)
{
    const uint16_t crc = MyModbusUtils::Crc16(Frame, 0, static_cast<int32_t>(Frame.size()));
    Frame.push_back(static_cast<uint8_t>(crc >> 8));
    Frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return Frame;
}

inline Bytes Ascii(std::string_view Text)
{
    return Bytes(Text.begin(), Text.end());
}

inline Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes IdentifyAnswer(uint8_t Address, std::string_view Version)
{
    Bytes f = {Address, 0x11, static_cast<uint8_t>(Version.size())};
    return Framed(Concat(f, Ascii(Version)));
}

inline Bytes SerialNumberAnswer(uint8_t Address, uint32_t Serial)
{
    return Framed({Address, 0x03, 0x04, static_cast<uint8_t>(Serial >> 24), static_cast<uint8_t>(Serial >> 16),
                   static_cast<uint8_t>(Serial >> 8), static_cast<uint8_t>(Serial)});
}

inline Bytes RecordCountAnswer(uint8_t Address, uint16_t Count)
{
    return Framed({Address, 0x04, 0x02, static_cast<uint8_t>(Count >> 8), static_cast<uint8_t>(Count)});
}

// Windows-1251 bytes of the record text.
inline Bytes RecordAnswer(uint8_t Address, const Bytes& Text)
{
    Bytes f = {Address, 0x41, static_cast<uint8_t>(Text.size())};
    return Framed(Concat(f, Text));
}

inline Bytes RecordAnswer(uint8_t Address, std::string_view AsciiText)
{
    return RecordAnswer(Address, Ascii(AsciiText));
}

inline Bytes RecordExceptionAnswer(uint8_t Address)
{
    return Framed({Address, 0xC1, 0x02});
}
