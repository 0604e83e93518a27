#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/AnswerAssembler.h"
#include "TestFrames.h"

using TState = TAnswerAssembler::TState;

namespace {

void Feed(TAnswerAssembler& a, const Bytes& b)
{
    const auto space = a.FreeSpace();
    ASSERT_LE(b.size(), space.size());
    std::copy(b.begin(), b.end(), space.begin());
    a.Commit(b.size());
}

TEST(Assembler, FixedLengthAnswerIsCompleteWhenAllBytesAreIn)
{
    const Bytes answer = SerialNumberAnswer(1, 42);
    TAnswerAssembler a;
    EXPECT_EQ(a.State(), TState::asEmpty);
    Feed(a, Bytes(answer.begin(), answer.begin() + 2));
    EXPECT_EQ(a.State(), TState::asIncomplete);
    Feed(a, Bytes(answer.begin() + 2, answer.end() - 1));
    EXPECT_EQ(a.State(), TState::asIncomplete);
    Feed(a, Bytes(answer.end() - 1, answer.end()));
    EXPECT_EQ(a.State(), TState::asComplete);
    EXPECT_EQ(a.TakeAnswer(), answer);
    EXPECT_EQ(a.State(), TState::asEmpty);
}

TEST(Assembler, BytesBeyondAFixedLengthAnswerStartTheNextOne)
{
    const Bytes first = RecordExceptionAnswer(1);
    const Bytes second = RecordAnswer(1, "next");
    TAnswerAssembler a;
    Feed(a, Concat(first, Bytes(second.begin(), second.begin() + 4)));
    EXPECT_EQ(a.State(), TState::asComplete);
    EXPECT_EQ(a.TakeAnswer(), first);
    EXPECT_EQ(a.Bytes().size(), 4u);
    Feed(a, Bytes(second.begin() + 4, second.end()));
    EXPECT_EQ(a.State(), TState::asVerifiesSoFar);
    EXPECT_EQ(a.TakeAnswer(), second);
}

TEST(Assembler, OpenLengthAnswerWaitsForSilence)
{
    const Bytes answer = RecordAnswer(1, "record text");
    TAnswerAssembler a;
    Feed(a, Bytes(answer.begin(), answer.begin() + 7));
    EXPECT_EQ(a.State(), TState::asIncomplete);
    Feed(a, Bytes(answer.begin() + 7, answer.end()));
    EXPECT_EQ(a.State(), TState::asVerifiesSoFar);
}

TEST(Assembler, RecordAnswersBackToBackAreCutApart)
{
    // Byte count as the text's length, and as every byte after it.
    const Bytes first = RecordAnswer(1, "late answer");
    Bytes second = Framed({1, 0x41, 9, 'r', 'e', 's', 'e', 'n', 't', '!'});
    TAnswerAssembler a;
    Feed(a, Concat(first, second));
    EXPECT_EQ(a.State(), TState::asComplete);
    EXPECT_EQ(a.TakeAnswer(), first);
    EXPECT_EQ(a.State(), TState::asVerifiesSoFar);
    Feed(a, Bytes(second.begin(), second.begin() + 4));
    EXPECT_EQ(a.State(), TState::asComplete);
    EXPECT_EQ(a.TakeAnswer(), second);

    // A corrupted answer is not cut anywhere.
    Bytes corrupted = first;
    corrupted[5] ^= 0x40;
    a.Drop();
    Feed(a, Concat(corrupted, Bytes{0x01}));
    EXPECT_EQ(a.State(), TState::asIncomplete);
}

TEST(Assembler, FullBufferEndsTheAnswer)
{
    Bytes text(250, 'x');
    const Bytes whole = RecordAnswer(1, text);
    ASSERT_EQ(whole.size(), 255u);
    TAnswerAssembler a;
    Feed(a, whole);
    EXPECT_EQ(a.State(), TState::asComplete);
    EXPECT_TRUE(a.FreeSpace().empty());

    Bytes garbage = whole;
    garbage[100] ^= 0xFF;
    a.Drop();
    Feed(a, garbage);
    EXPECT_EQ(a.State(), TState::asOverflow);
}

TEST(Assembler, ImpossibleByteCountFallsBackToSilence)
{
    TAnswerAssembler a;
    Feed(a, Bytes{1, 0x03, 0xFF, 1, 2, 3});
    EXPECT_EQ(a.State(), TState::asIncomplete);
}

} // namespace
