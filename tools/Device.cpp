#include "tools/Device.h"

#include "protocol/MyModbusUtils.h"

#include <stdexcept>

namespace SimDevice {

namespace {

constexpr size_t MaxPayload = 250;
constexpr uint8_t IllegalDataAddress = 0x02;

uint16_t BigEndian16(std::span<const uint8_t> Frame, size_t Pos)
{
    return static_cast<uint16_t>(Frame[Pos] << 8 | Frame[Pos + 1]);
}

} // namespace

Bytes WithChecksum(Bytes Frame)
{
    const uint16_t crc = MyModbusUtils::Crc16(Frame, 0, static_cast<int32_t>(Frame.size()));
    Frame.push_back(static_cast<uint8_t>(crc >> 8));
    Frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return Frame;
}

Device::Device(Identity Id, std::vector<Bytes> Records, CountByte Count, uint32_t Seed)
    : FId(std::move(Id)), FRecords(std::move(Records)), FCount(Count), FSeed(Seed)
{
    if (FId.Version.size() > MaxPayload) throw std::invalid_argument("the version text is longer than 250 bytes");
    if (FRecords.size() > 0xFFFF) throw std::invalid_argument("more than 65535 records");
    for (const auto& record : FRecords)
        if (record.size() > MaxPayload) throw std::invalid_argument("a record is longer than 250 bytes");
}

Reply Device::Respond(std::span<const uint8_t> Request) const
{
    if (Request[0] == 0) return {std::nullopt, false, "broadcast, no answer"};
    if (Request[0] != FId.Address)
        return {std::nullopt, false, "for address " + std::to_string(Request[0]) + ", not ours"};
    switch (Request[1]) {
    case 0x11: return Identify();
    case 0x03: return SerialNumber(Request);
    case 0x04: return RecordCount(Request);
    case 0x41: return Record(Request);
    default: return {std::nullopt, false, "unknown function"};
    }
}

Reply Device::Identify() const
{
    Bytes frame = {FId.Address, 0x11, static_cast<uint8_t>(FId.Version.size())};
    frame.insert(frame.end(), FId.Version.begin(), FId.Version.end());
    return {WithChecksum(std::move(frame)), false, "identify"};
}

Reply Device::SerialNumber(std::span<const uint8_t> Request) const
{
    if (BigEndian16(Request, 2) != 0x8006 || BigEndian16(Request, 4) != 2)
        return Exception(0x03, IllegalDataAddress, "holding registers other than 0x8006 x 2");
    const auto serial = static_cast<uint32_t>(FId.Serial);
    return {
        WithChecksum({FId.Address, 0x03, 0x04, static_cast<uint8_t>(serial >> 24), static_cast<uint8_t>(serial >> 16),
                      static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial)}),
        false, "serial number " + std::to_string(FId.Serial)};
}

Reply Device::RecordCount(std::span<const uint8_t> Request) const
{
    if (BigEndian16(Request, 2) != 0x400B || BigEndian16(Request, 4) != 1)
        return Exception(0x04, IllegalDataAddress, "input registers other than 0x400B x 1");
    const auto count = static_cast<uint16_t>(FRecords.size());
    return {WithChecksum({FId.Address, 0x04, 0x02, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)}),
            false, "record count " + std::to_string(count)};
}

Reply Device::Record(std::span<const uint8_t> Request) const
{
    const uint16_t index = BigEndian16(Request, 7);
    if (index >= FRecords.size())
        return Exception(0x41, IllegalDataAddress, "record " + std::to_string(index) + " not held", true);
    const Bytes& text = FRecords[index];
    Bytes frame = {FId.Address, 0x41, RecordCountByte(index, text.size())};
    frame.insert(frame.end(), text.begin(), text.end());
    return {WithChecksum(std::move(frame)), true, "record " + std::to_string(index)};
}

uint8_t Device::RecordCountByte(uint16_t Index, size_t TextLength) const
{
    switch (FCount) {
    case CountByte::Text: return static_cast<uint8_t>(TextLength);
    case CountByte::All: return static_cast<uint8_t>(TextLength + 2);
    case CountByte::Zero: return 0;
    case CountByte::Random: break;
    }
    // A mix of seed and index (splitmix64's finaliser): the same answer
    // every time a record is asked for, unrelated to its length.
    uint64_t x = (uint64_t{FSeed} << 32 | Index) + 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<uint8_t>(x ^ (x >> 31));
}

Reply Device::Exception(uint8_t FunctionCode, uint8_t Code, std::string Note, bool IsRecordAnswer) const
{
    return {WithChecksum({FId.Address, static_cast<uint8_t>(FunctionCode | 0x80), Code}), IsRecordAnswer,
            std::move(Note) + ", exception"};
}

} // namespace SimDevice
