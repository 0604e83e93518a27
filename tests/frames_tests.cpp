#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/Frames.h"
#include "TestFrames.h"

using namespace Frames;

namespace {

template <size_t N>
Bytes AsVector(const std::array<uint8_t, N>& a)
{
    return Bytes(a.begin(), a.end());
}

TEST(Requests, AddressOneGivesTheKnownFrames)
{
    EXPECT_EQ(AsVector(IdentifyRequest(1)), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
    EXPECT_EQ(AsVector(SerialNumberRequest(1)), (Bytes{0x01, 0x03, 0x80, 0x06, 0x00, 0x02, 0x0D, 0xCA}));
    EXPECT_EQ(AsVector(RecordCountRequest(1)), (Bytes{0x01, 0x04, 0x40, 0x0B, 0x00, 0x01, 0x55, 0xC8}));
}

TEST(Requests, RecordIndexIsSixteenBitBigEndian)
{
    struct Case { int32_t index; Bytes frame; };
    const Case cases[] = {
        {0, {0x01, 0x41, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0xC3, 0x9F}},
        {255, {0x01, 0x41, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0xFF, 0x83, 0xDF}},
        {256, {0x01, 0x41, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x01, 0x00, 0xC2, 0x0F}},
        {300, {0x01, 0x41, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x01, 0x2C, 0xC3, 0xD2}},
        {4095, {0x01, 0x41, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x0F, 0xFF, 0x86, 0x2F}},
    };
    for (const Case& c : cases) EXPECT_EQ(AsVector(RecordRequest(1, c.index)), c.frame) << c.index;

    // Past 4095 the index is no longer cut to its low byte.
    struct Wide { int32_t index; uint8_t hi, lo; };
    const Wide wide[] = {{4096, 0x10, 0x00}, {40000, 0x9C, 0x40}, {65534, 0xFF, 0xFE}, {65536 + 7, 0x00, 0x07},
                         {-1, 0xFF, 0xFF}};
    for (const Wide& w : wide) {
        const auto frame = RecordRequest(1, w.index);
        EXPECT_EQ(frame[7], w.hi) << w.index;
        EXPECT_EQ(frame[8], w.lo) << w.index;
        EXPECT_EQ(MyModbusUtils::Crc16(frame, 0, 11), 0) << w.index;
    }
}

TEST(Requests, AddressIsItsLowByte)
{
    EXPECT_EQ(AsVector(IdentifyRequest(17)), (Bytes{0x11, 0x11, 0xCD, 0xEC}));
    EXPECT_EQ(AsVector(IdentifyRequest(247)), (Bytes{0xF7, 0x11, 0x87, 0x8C}));
    EXPECT_EQ(IdentifyRequest(256)[0], 0x00);
    EXPECT_EQ(IdentifyRequest(257)[0], 0x01);
    EXPECT_EQ(IdentifyRequest(-1)[0], 0xFF);
    EXPECT_EQ(RecordRequest(-1, 0)[0], 0xFF);
}

TEST(Answers, KindIsTheFunctionCode)
{
    EXPECT_EQ(AnswerKind(Bytes{1, 0x11}), TAnswerKind::akIdentify);
    EXPECT_EQ(AnswerKind(Bytes{1, 0x03}), TAnswerKind::akSerialNumber);
    EXPECT_EQ(AnswerKind(Bytes{1, 0x04}), TAnswerKind::akRecordCount);
    EXPECT_EQ(AnswerKind(Bytes{1, 0x41}), TAnswerKind::akRecord);
    EXPECT_EQ(AnswerKind(Bytes{1, 0xC1}), TAnswerKind::akRecordException);
    for (uint8_t other : {0x83, 0x84, 0x91, 0x00, 0x10}) EXPECT_EQ(AnswerKind(Bytes{1, other}), TAnswerKind::akOther);
    EXPECT_EQ(AnswerKind(Bytes{1}), TAnswerKind::akOther);
}

TEST(Answers, VerifyOnlyWithTheirChecksum)
{
    const Bytes good = RecordAnswer(1, "ABC");
    EXPECT_TRUE(AnswerVerifies(good));
    Bytes corrupted = good;
    corrupted[4] ^= 0x01;
    EXPECT_FALSE(AnswerVerifies(corrupted));
    EXPECT_FALSE(AnswerVerifies(Bytes{0x01, 0x41, 0x05, 0x41, 0x42, 0x43, 0xC1, 0xC2}));
    EXPECT_FALSE(AnswerVerifies(Framed({0x01, 0x41}))); // four bytes are too few
}

TEST(Answers, FixedLengthFollowsTheFunctionCode)
{
    EXPECT_EQ(FixedAnswerLength(Bytes{1, 0x03, 4}), 9u);
    EXPECT_EQ(FixedAnswerLength(Bytes{1, 0x04, 2}), 7u);
    EXPECT_EQ(FixedAnswerLength(Bytes{1, 0x11, 19}), 24u);
    for (uint8_t code : {0x83, 0x84, 0x91, 0xC1}) EXPECT_EQ(FixedAnswerLength(Bytes{1, code}), 5u) << int(code);
    EXPECT_EQ(FixedAnswerLength(Bytes{1, 0x03}), std::nullopt); // byte count not in yet
    EXPECT_EQ(FixedAnswerLength(Bytes{1, 0x41, 9}), std::nullopt);
    EXPECT_EQ(FixedAnswerLength(Bytes{1, 0x55, 9}), std::nullopt);
    EXPECT_EQ(FixedAnswerLength(Bytes{1}), std::nullopt);
}

TEST(Decoders, RecordTextEndsBeforeTheChecksum)
{
    EXPECT_EQ(RecordText(Bytes{0x01, 0x41, 0x05, 0x41, 0x42, 0x43, 0xC1, 0xC2}), "ABC");
    // Checksum bytes that hold a zero no longer eat text.
    EXPECT_EQ(RecordText(Bytes{0x01, 0x41, 0x05, 0x41, 0x42, 0x43, 0xC1, 0x00}), "ABC");
    EXPECT_EQ(RecordText(Bytes{0x01, 0x41, 0x05, 0x41, 0x42, 0x43, 0x00, 0xC2}), "ABC");
    // A zero inside the text ends it.
    EXPECT_EQ(RecordText(Bytes{0x01, 0x41, 0x05, 0x41, 0x42, 0x43, 0x00, 0xC1, 0xC2}), "ABC");
    EXPECT_EQ(RecordText(Bytes{0x01, 0x41, 0x05, 0x41, 0x00, 0x43, 0xC1, 0xC2}), "A");
    EXPECT_EQ(RecordText(Bytes{0x01, 0x41, 0x05, 0x41, 0x42}), "");
    EXPECT_EQ(RecordText(Bytes{0x01, 0x41}), "");
    EXPECT_EQ(RecordText(Bytes{}), "");
}

TEST(Decoders, LongestRecordHas250Characters)
{
    Bytes answer(255, 0x5A);
    answer[1] = 0x41;
    const std::string text = RecordText(answer);
    EXPECT_EQ(text, std::string(250, 'Z'));
}

TEST(Decoders, RecordTextIsWindows1251)
{
    const Bytes text = {0xC2, 0xF5, 0xEE, 0xE4, 0x20, 0xE2, 0x20, 0xEC, 0xE5, 0xED, 0xFE};
    EXPECT_EQ(RecordText(RecordAnswer(1, text)), "Вход в меню");
}

TEST(Decoders, VersionTextNeverTakesChecksumBytes)
{
    Bytes answer = {0x01, 0x11, 0x05, 'V', '1', '.', '0', '2', 0xC1, 0xC2};
    EXPECT_EQ(VersionText(answer), "V1.02");
    // At most positions 3..21, each byte its own code point.
    Bytes long_answer = IdentifyAnswer(1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(VersionText(long_answer), "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(VersionText(Framed({0x01, 0x11, 0x03, 'A', 0xE9, 0x00, 'Z'})), "A\u00E9");
}

TEST(Decoders, SerialNumberIsSignedDecimal)
{
    EXPECT_EQ(SerialNumberText(SerialNumberAnswer(1, 123456)), "123456");
    EXPECT_EQ(SerialNumberText(SerialNumberAnswer(1, 0xFFFFFFFE)), "-2");
    EXPECT_EQ(SerialNumberText(SerialNumberAnswer(1, 0x80000000)), "-2147483648");
    // A short answer gives zeros where it has no data, never its checksum.
    EXPECT_EQ(SerialNumberText(Framed({1, 0x03, 0x02, 0x00, 0x01})), "65536");
}

TEST(Decoders, RecordCountIsUnsignedSixteenBit)
{
    EXPECT_EQ(RecordCount(RecordCountAnswer(1, 0)), 0);
    EXPECT_EQ(RecordCount(RecordCountAnswer(1, 1000)), 1000);
    EXPECT_EQ(RecordCount(RecordCountAnswer(1, 65535)), 65535);
    EXPECT_EQ(RecordCount(Bytes{1, 0x04, 0x02}), 0);
}

} // namespace
