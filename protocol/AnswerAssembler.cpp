#include "protocol/AnswerAssembler.h"

#include "protocol/Frames.h"

#include <algorithm>
#include <initializer_list>

#include "protocol/MyModbusUtils.h"

namespace {

// A record answer's length over its byte count: the count taken as the text
// alone, or as every byte after it.
constexpr size_t TextCounted = 5;
constexpr size_t AllAfterCounted = 3;

} // namespace

// Where a record answer ends by its byte count, read the way the device has
// shown it means it, once the bytes up to there are in and the checksum
// holds over them. This also cuts apart two answers that came without a pause
// between them (a late answer and the answer to the request sent again).
std::optional<size_t> TAnswerAssembler::TrustedRecordAnswerEnd() const
{
    if (!TrustsByteCount() || FLength < 3 || FBuffer[1] != Frames::fnReadRecord) return std::nullopt;
    const size_t end = size_t{FBuffer[2]} + FCountedAfter;
    if (end < Frames::MinAnswerLength || end > FLength ||
        MyModbusUtils::Crc16(Bytes(), 0, static_cast<int32_t>(end)) != 0)
        return std::nullopt;
    return end;
}

// Before the byte count is believed, two record answers that came without a
// pause (a late answer and the answer to the request sent again) are still
// cut apart where the count says, but only when the bytes as a whole do not
// verify and both parts do: a single answer whose count means something else
// is never cut, since it verifies whole.
std::optional<size_t> TAnswerAssembler::BackToBackRecordAnswerEnd() const
{
    if (FDisagreed || FLength < 3 || FBuffer[1] != Frames::fnReadRecord) return std::nullopt;
    const auto bytes = Bytes();
    for (const size_t countedAfter : {TextCounted, AllAfterCounted}) {
        if (FAgreeing > 0 && countedAfter != FCountedAfter) continue;
        const size_t end = size_t{FBuffer[2]} + countedAfter;
        if (end >= Frames::MinAnswerLength && end < FLength && Frames::AnswerVerifies(bytes.first(end)) &&
            Frames::AnswerVerifies(bytes.subspan(end)))
            return end;
    }
    return std::nullopt;
}

void TAnswerAssembler::ForgetByteCount()
{
    FAgreeing = 0;
    FCountedAfter = 0;
    FDisagreed = false;
}

std::span<uint8_t> TAnswerAssembler::FreeSpace()
{
    return std::span(FBuffer).subspan(FLength, Frames::MaxAnswerLength - FLength);
}

void TAnswerAssembler::Commit(size_t Count)
{
    FLength = std::min(FLength + Count, Frames::MaxAnswerLength);
}

TAnswerAssembler::TState TAnswerAssembler::State() const
{
    if (FLength == 0) return TState::asEmpty;
    const auto bytes = Bytes();
    if (const auto fixed = Frames::FixedAnswerLength(bytes); fixed && *fixed <= Frames::MaxAnswerLength)
        return FLength >= *fixed ? TState::asComplete : TState::asIncomplete;
    if (TrustedRecordAnswerEnd()) return TState::asComplete;
    if (Frames::AnswerVerifies(bytes))
        return FLength == Frames::MaxAnswerLength ? TState::asComplete : TState::asVerifiesSoFar;
    if (BackToBackRecordAnswerEnd()) return TState::asComplete;
    return FLength == Frames::MaxAnswerLength ? TState::asOverflow : TState::asIncomplete;
}

std::vector<uint8_t> TAnswerAssembler::TakeAnswer()
{
    const auto fixed = Frames::FixedAnswerLength(Bytes());
    size_t length = FLength;
    if (fixed && *fixed <= FLength)
        length = *fixed;
    else if (const auto end = TrustedRecordAnswerEnd())
        length = *end;
    else if (!Frames::AnswerVerifies(Bytes()))
        length = BackToBackRecordAnswerEnd().value_or(FLength);
    std::vector<uint8_t> answer(FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(length));
    std::copy(FBuffer.begin() + static_cast<ptrdiff_t>(length), FBuffer.begin() + static_cast<ptrdiff_t>(FLength),
              FBuffer.begin());
    FLength -= length;
    std::fill(FBuffer.begin() + static_cast<ptrdiff_t>(FLength), FBuffer.end(), uint8_t{0});
    return answer;
}

std::vector<uint8_t> TAnswerAssembler::TakeAnswerAfterSilence()
{
    std::vector<uint8_t> answer(FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(FLength));
    Drop();
    std::fill(FBuffer.begin(), FBuffer.end(), uint8_t{0});
    if (FDisagreed || answer.size() < 3 || answer[1] != Frames::fnReadRecord || !Frames::AnswerVerifies(answer))
        return answer;

    const size_t count = answer[2];
    const size_t countedAfter = answer.size() - count;
    const bool agrees = (countedAfter == TextCounted || countedAfter == AllAfterCounted) &&
                        (FAgreeing == 0 || countedAfter == FCountedAfter);
    if (agrees) {
        FCountedAfter = countedAfter;
        if (FAgreeing < AnswersToTrustByteCount) ++FAgreeing;
    } else {
        FAgreeing = 0;
        FDisagreed = true;
    }
    return answer;
}
