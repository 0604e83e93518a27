#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

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

// Record answers whose position 2 counts the text alone (as the simulated
// device's default), every byte after it (as the protocol's own example), or
// says nothing about the length.
enum class TCount { Text, All, Zero, Other };

Bytes RecordCounted(TCount Count, const Bytes& Text, uint8_t Other = 0x77)
{
    const auto n = static_cast<uint8_t>(Text.size());
    const uint8_t count = Count == TCount::Text ? n : Count == TCount::All ? static_cast<uint8_t>(n + 2)
                          : Count == TCount::Zero ? 0 : Other;
    return Framed(Concat({1, 0x41, count}, Text));
}

Bytes RecordCounted(TCount Count, std::string_view Text)
{
    return RecordCounted(Count, Ascii(Text));
}

// An answer that comes whole and is judged by the silence after it.
Bytes AfterSilence(TAnswerAssembler& a, const Bytes& Answer)
{
    Feed(a, Answer);
    EXPECT_EQ(a.State(), TState::asVerifiesSoFar);
    return a.TakeAnswerAfterSilence();
}

TEST(Assembler, ByteCountIsBelievedOnlyOnceTheDeviceHasShownWhatItMeans)
{
    const Bytes text = RecordCounted(TCount::Text, "by text");
    const Bytes all = RecordCounted(TCount::All, "by all");
    const Bytes zero = RecordCounted(TCount::Zero, "zero");
    const Bytes other = RecordCounted(TCount::Other, "other");
    const struct {
        const char* Name;
        std::vector<Bytes> Answers; // each judged by silence, in this order
        bool Trusted;
    } cases[] = {
        {"three counting the text", {text, text, text}, true},
        {"three counting every byte after it", {all, all, all}, true},
        {"two are not enough", {text, text}, false},
        {"the two ways mixed", {text, text, all, text, text, text}, false},
        {"a zero count never", {zero, zero, zero, zero}, false},
        {"a count meaning something else never", {other, text, text, text, text}, false},
        {"one disagreeing answer withdraws it for good", {text, text, text, other, text, text, text}, false},
        {"an answer of the other way withdraws it too", {all, all, all, text, all, all, all}, false},
        {"other answers teach nothing", {text, text, Framed({1, 0x11, 3, 'V', '1', '2'}), text}, true},
        {"neither does an answer whose checksum fails", {text, text, Bytes{1, 0x41, 3, 'a', 'b', 'c', 1, 2}, text},
         true},
    };
    for (const auto& c : cases) {
        TAnswerAssembler a;
        for (const Bytes& answer : c.Answers) {
            Feed(a, answer);
            if (answer[1] == 0x41) {
                EXPECT_NE(a.State(), TState::asComplete) << c.Name << ": acted on before the silence";
            }
            EXPECT_EQ(a.TakeAnswerAfterSilence(), answer) << c.Name;
        }
        EXPECT_EQ(a.TrustsByteCount(), c.Trusted) << c.Name;

        // A new connection starts from nothing.
        a.ForgetByteCount();
        EXPECT_FALSE(a.TrustsByteCount()) << c.Name;
        for (int i = 0; i < TAnswerAssembler::AnswersToTrustByteCount; ++i) AfterSilence(a, text);
        EXPECT_TRUE(a.TrustsByteCount()) << c.Name;
    }
}

TEST(Assembler, BelievedByteCountCompletesAnAnswerSplitAnywhereOnlyWhenLengthAndChecksumAgree)
{
    Bytes corrupted = RecordCounted(TCount::Text, "one byte inverted");
    corrupted[6] ^= 0xFF;
    Bytes longest(250, 'x');
    const struct {
        const char* Name;
        TCount Taught;
        Bytes Answer;
        TState WhenAllIn; // asComplete: taken at once, without a silence
    } cases[] = {
        {"text counted", TCount::Text, RecordCounted(TCount::Text, "event 1 door opened"), TState::asComplete},
        {"all counted", TCount::All, RecordCounted(TCount::All, "event 1 door opened"), TState::asComplete},
        {"the protocol's example", TCount::All, Bytes{0x01, 0x41, 0x05, 'A', 'B', 'C', 0xC1, 0xC2},
         TState::asIncomplete}, // its checksum bytes are placeholders
        {"an empty text", TCount::Text, RecordCounted(TCount::Text, ""), TState::asComplete},
        {"the longest", TCount::Text, RecordCounted(TCount::Text, longest), TState::asComplete},
        {"a checksum that fails", TCount::Text, corrupted, TState::asIncomplete},
        {"a count the other way", TCount::Text, RecordCounted(TCount::All, "counted otherwise"),
         TState::asVerifiesSoFar},
        {"a count of nothing", TCount::All, RecordCounted(TCount::Zero, "zero"), TState::asVerifiesSoFar},
        {"a count too long", TCount::All, RecordCounted(TCount::Other, "short"), TState::asVerifiesSoFar},
    };
    for (const auto& c : cases) {
        for (size_t cut = 1; cut < c.Answer.size(); ++cut) {
            TAnswerAssembler a;
            for (int i = 0; i < TAnswerAssembler::AnswersToTrustByteCount; ++i)
                AfterSilence(a, RecordCounted(c.Taught, "teach " + std::to_string(i)));
            ASSERT_TRUE(a.TrustsByteCount());

            Feed(a, Bytes(c.Answer.begin(), c.Answer.begin() + static_cast<ptrdiff_t>(cut)));
            EXPECT_NE(a.State(), TState::asComplete) << c.Name << ", cut after " << cut << " bytes";
            Feed(a, Bytes(c.Answer.begin() + static_cast<ptrdiff_t>(cut), c.Answer.end()));
            // The longest answer fills the buffer and so is whole either way.
            ASSERT_EQ(a.State(), c.Answer.size() == 255 ? TState::asComplete : c.WhenAllIn)
                << c.Name << ", cut after " << cut << " bytes";
            if (c.WhenAllIn == TState::asComplete) {
                EXPECT_EQ(a.TakeAnswer(), c.Answer) << c.Name;
            }
            if (c.WhenAllIn == TState::asVerifiesSoFar) {
                // Judged by silence, and the device's count is no longer believed.
                EXPECT_EQ(a.TakeAnswerAfterSilence(), c.Answer) << c.Name;
                EXPECT_FALSE(a.TrustsByteCount()) << c.Name;
            }
        }
    }
}

TEST(Assembler, DeviceWithACountThatMeansNothingGetsEveryRecordWholeAfterSilence)
{
    // Counts that now and then agree by chance, both ways, and prefixes whose
    // checksum holds by chance: none of them may cut an answer short.
    uint32_t random = 12345;
    const auto next = [&random] { return random = random * 1103515245 + 12345, static_cast<uint8_t>(random >> 16); };
    TAnswerAssembler a;
    for (int record = 0; record < 3000; ++record) {
        Bytes text(40 + next() % 80);
        for (auto& b : text) b = static_cast<uint8_t>(0x20 + next() % 0x5F);
        const Bytes answer = RecordCounted(TCount::Other, text, next());
        const size_t cut = 1 + next() % (answer.size() - 1);
        Feed(a, Bytes(answer.begin(), answer.begin() + static_cast<ptrdiff_t>(cut)));
        ASSERT_NE(a.State(), TState::asComplete) << "record " << record;
        Feed(a, Bytes(answer.begin() + static_cast<ptrdiff_t>(cut), answer.end()));
        ASSERT_EQ(a.State(), TState::asVerifiesSoFar) << "record " << record;
        ASSERT_EQ(a.TakeAnswerAfterSilence(), answer) << "record " << record;
        ASSERT_FALSE(a.TrustsByteCount()) << "record " << record;
    }
}

TEST(Assembler, RecordAnswersBackToBackAreCutApartWhereTheCountSays)
{
    const struct {
        const char* Name;
        TCount Count;
    } cases[] = {{"text counted", TCount::Text}, {"all counted", TCount::All}};
    for (const auto& c : cases) {
        // A late answer and the answer to the request sent again.
        const Bytes first = RecordCounted(c.Count, "late answer");
        const Bytes second = RecordCounted(c.Count, "resent!");
        TAnswerAssembler a;
        // Before the count is believed: cut only where both parts verify and
        // the whole does not, so a single answer is never cut short.
        Feed(a, Concat(first, second));
        EXPECT_EQ(a.State(), TState::asComplete) << c.Name << ": two whole answers before the count was shown";
        EXPECT_EQ(a.TakeAnswer(), first) << c.Name;
        EXPECT_EQ(a.State(), TState::asVerifiesSoFar) << c.Name << ": the second still waits for the silence";
        a.Drop();
        Feed(a, Concat(first, Bytes(second.begin(), second.begin() + 4)));
        EXPECT_EQ(a.State(), TState::asIncomplete) << c.Name << ": cut on the count alone before it was shown";
        a.Drop();

        for (int i = 0; i < TAnswerAssembler::AnswersToTrustByteCount; ++i) AfterSilence(a, first);
        Feed(a, Concat(first, second));
        EXPECT_EQ(a.State(), TState::asComplete) << c.Name;
        EXPECT_EQ(a.TakeAnswer(), first) << c.Name;
        EXPECT_EQ(a.State(), TState::asComplete) << c.Name;
        EXPECT_EQ(a.TakeAnswer(), second) << c.Name;
        EXPECT_EQ(a.State(), TState::asEmpty) << c.Name;

        // The second arriving in pieces behind the first.
        Feed(a, Concat(first, Bytes(second.begin(), second.begin() + 4)));
        EXPECT_EQ(a.State(), TState::asComplete) << c.Name;
        EXPECT_EQ(a.TakeAnswer(), first) << c.Name;
        EXPECT_EQ(a.State(), TState::asIncomplete) << c.Name;
        Feed(a, Bytes(second.begin() + 4, second.end()));
        EXPECT_EQ(a.State(), TState::asComplete) << c.Name;
        EXPECT_EQ(a.TakeAnswer(), second) << c.Name;

        // A corrupted answer is not cut anywhere.
        Bytes corrupted = first;
        corrupted[5] ^= 0x40;
        Feed(a, Concat(corrupted, Bytes{0x01}));
        EXPECT_EQ(a.State(), TState::asIncomplete) << c.Name;
        a.Drop();
    }
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
