#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/MyModbusUtils.h"

using MyModbusUtils::Crc16;

namespace {

// The tables are constant data, made while compiling.
static_assert(MyModbusUtils::CrcHighOrderTable[0] == 0x00 && MyModbusUtils::CrcHighOrderTable[1] == 0xC1 &&
              MyModbusUtils::CrcHighOrderTable[2] == 0x81 && MyModbusUtils::CrcHighOrderTable[3] == 0x40);
static_assert(MyModbusUtils::CrcLowOrderTable[0] == 0x00 && MyModbusUtils::CrcLowOrderTable[1] == 0xC0 &&
              MyModbusUtils::CrcLowOrderTable[2] == 0xC1 && MyModbusUtils::CrcLowOrderTable[3] == 0x01);

const std::vector<uint8_t> Digits = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39};

TEST(Crc16, EmptyOrNegativeCountGivesInitialValue)
{
    EXPECT_EQ(Crc16(Digits, 0, 0), 0xFFFF);
    EXPECT_EQ(Crc16(Digits, 0, -5), 0xFFFF);
}

TEST(Crc16, KnownVectorsHaveTheirBytesExchanged)
{
    EXPECT_EQ(Crc16(Digits, 0, 9), 0x374B); // the conventional check value is 0x4B37
    const std::vector<uint8_t> identify = {0x01, 0x11};
    EXPECT_EQ(Crc16(identify, 0, 2), 0xC02C);
    const std::vector<uint8_t> serial = {0x01, 0x03, 0x80, 0x06, 0x00, 0x02};
    EXPECT_EQ(Crc16(serial, 0, 6), 0x0DCA);
}

TEST(Crc16, WholeFrameWithItsChecksumGivesZero)
{
    const std::vector<uint8_t> frame = {0x01, 0x03, 0x80, 0x06, 0x00, 0x02, 0x0D, 0xCA};
    EXPECT_EQ(Crc16(frame, 0, 8), 0x0000);
}

TEST(Crc16, OnlyTheCoveredBytesCount)
{
    std::vector<uint8_t> longer = {0xAA, 0x55};
    longer.insert(longer.end(), Digits.begin(), Digits.end());
    longer.push_back(0x99);
    EXPECT_EQ(Crc16(longer, 2, 9), 0x374B);
}

TEST(Crc16, MatchesTheBitwiseDefinitionOnEveryByte)
{
    for (int b = 0; b < 256; ++b) {
        uint16_t crc = 0xFFFF;
        crc ^= static_cast<uint16_t>(b);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        const std::array<uint8_t, 1> data = {static_cast<uint8_t>(b)};
        EXPECT_EQ(Crc16(data, 0, 1), static_cast<uint16_t>((crc << 8) | (crc >> 8))) << b;
    }
}

} // namespace
