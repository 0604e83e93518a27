#include "protocol/Frames.h"

#include "protocol/MyModbusUtils.h"
#include "runtime/CodePage.h"
#include "runtime/Convert.h"

#include <algorithm>

namespace Frames {

namespace {

template <size_t N>
std::array<uint8_t, N> WithChecksum(std::array<uint8_t, N> Frame)
{
    const uint16_t crc = MyModbusUtils::Crc16(Frame, 0, static_cast<int32_t>(N - 2));
    Frame[N - 2] = static_cast<uint8_t>(crc >> 8);
    Frame[N - 1] = static_cast<uint8_t>(crc & 0xFF);
    return Frame;
}

uint8_t AddressByte(int32_t DeviceAddress)
{
    return static_cast<uint8_t>(static_cast<uint32_t>(DeviceAddress) & 0xFFu);
}

// The bytes between the function code's byte count (position 2) and the
// checksum; a position outside them reads as zero, as an empty buffer
// position would.
uint8_t DataByte(std::span<const uint8_t> Answer, size_t Position)
{
    return Position + 2 < Answer.size() ? Answer[Position] : 0;
}

// Positions 3 .. Last (inclusive), cut at the first zero byte.
std::span<const uint8_t> TextBytes(std::span<const uint8_t> Answer, size_t Last)
{
    if (Answer.size() < 4 || Last < 3) return {};
    const auto text = Answer.subspan(3, std::min(Last, Answer.size() - 1) - 2);
    const auto zero = std::find(text.begin(), text.end(), uint8_t{0});
    return text.first(static_cast<size_t>(zero - text.begin()));
}

size_t LastBeforeChecksum(std::span<const uint8_t> Answer)
{
    return Answer.size() >= 3 ? Answer.size() - 3 : 0;
}

} // namespace

std::array<uint8_t, 4> IdentifyRequest(int32_t DeviceAddress)
{
    return WithChecksum<4>({AddressByte(DeviceAddress), fnReportSlaveId, 0, 0});
}

std::array<uint8_t, 8> SerialNumberRequest(int32_t DeviceAddress)
{
    return WithChecksum<8>({AddressByte(DeviceAddress), fnReadHoldingRegisters, 0x80, 0x06, 0x00, 0x02, 0, 0});
}

std::array<uint8_t, 8> RecordCountRequest(int32_t DeviceAddress)
{
    return WithChecksum<8>({AddressByte(DeviceAddress), fnReadInputRegisters, 0x40, 0x0B, 0x00, 0x01, 0, 0});
}

std::array<uint8_t, 11> RecordRequest(int32_t DeviceAddress, int32_t RecordIndex)
{
    const auto index = static_cast<uint16_t>(static_cast<uint32_t>(RecordIndex) & 0xFFFFu);
    return WithChecksum<11>({AddressByte(DeviceAddress), fnReadRecord, 0x00, 0x0F, 0x00, 0x01, 0x00,
                             static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index & 0xFF), 0, 0});
}

TAnswerKind AnswerKind(std::span<const uint8_t> Answer)
{
    if (Answer.size() < 2) return TAnswerKind::akOther;
    switch (Answer[1]) {
    case fnReportSlaveId: return TAnswerKind::akIdentify;
    case fnReadHoldingRegisters: return TAnswerKind::akSerialNumber;
    case fnReadInputRegisters: return TAnswerKind::akRecordCount;
    case fnReadRecord: return TAnswerKind::akRecord;
    case fnReadRecord | ExceptionBit: return TAnswerKind::akRecordException;
    default: return TAnswerKind::akOther;
    }
}

bool AnswerVerifies(std::span<const uint8_t> Answer)
{
    return Answer.size() >= MinAnswerLength &&
           MyModbusUtils::Crc16(Answer, 0, static_cast<int32_t>(Answer.size())) == 0;
}

std::optional<size_t> FixedAnswerLength(std::span<const uint8_t> BytesSoFar)
{
    if (BytesSoFar.size() < 2) return std::nullopt;
    switch (BytesSoFar[1]) {
    case fnReadHoldingRegisters:
    case fnReadInputRegisters:
    case fnReportSlaveId:
        if (BytesSoFar.size() < 3) return std::nullopt;
        return MinAnswerLength + BytesSoFar[2];
    case fnReadHoldingRegisters | ExceptionBit:
    case fnReadInputRegisters | ExceptionBit:
    case fnReportSlaveId | ExceptionBit:
    case fnReadRecord | ExceptionBit:
        return MinAnswerLength;
    default:
        return std::nullopt;
    }
}

std::string VersionText(std::span<const uint8_t> Answer)
{
    return Latin1ToUtf8(TextBytes(Answer, std::min<size_t>(21, LastBeforeChecksum(Answer))));
}

std::string SerialNumberText(std::span<const uint8_t> Answer)
{
    const uint32_t pattern = uint32_t{DataByte(Answer, 3)} << 24 | uint32_t{DataByte(Answer, 4)} << 16 |
                             uint32_t{DataByte(Answer, 5)} << 8 | uint32_t{DataByte(Answer, 6)};
    return IntToStr(static_cast<int32_t>(pattern));
}

int32_t RecordCount(std::span<const uint8_t> Answer)
{
    return int32_t{DataByte(Answer, 3)} << 8 | int32_t{DataByte(Answer, 4)};
}

std::string RecordText(std::span<const uint8_t> Answer)
{
    return Cp1251ToUtf8(TextBytes(Answer, LastBeforeChecksum(Answer)));
}

} // namespace Frames
