#include "protocol/AnswerAssembler.h"

#include "protocol/Frames.h"

#include <algorithm>
#include <initializer_list>

#include "protocol/MyModbusUtils.h"

namespace {

// Where a record answer ends when another answer follows it without a pause
// (a late answer and the answer to the request sent again): the prefix whose
// length matches its byte count, counted as the text alone or as every byte
// after it, and whose checksum holds.
std::optional<size_t> RecordAnswerEnd(std::span<const uint8_t> Bytes)
{
    if (Bytes.size() < 3 || Bytes[1] != Frames::fnReadRecord) return std::nullopt;
    for (const size_t end : {size_t{Bytes[2]} + 5, size_t{Bytes[2]} + 3}) {
        if (end >= Frames::MinAnswerLength && end < Bytes.size() &&
            MyModbusUtils::Crc16(Bytes, 0, static_cast<int32_t>(end)) == 0)
            return end;
    }
    return std::nullopt;
}

} // namespace

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
    if (Frames::AnswerVerifies(bytes))
        return FLength == Frames::MaxAnswerLength ? TState::asComplete : TState::asVerifiesSoFar;
    if (RecordAnswerEnd(bytes)) return TState::asComplete;
    return FLength == Frames::MaxAnswerLength ? TState::asOverflow : TState::asIncomplete;
}

std::vector<uint8_t> TAnswerAssembler::TakeAnswer()
{
    const auto fixed = Frames::FixedAnswerLength(Bytes());
    size_t length = FLength;
    if (fixed && *fixed <= FLength)
        length = *fixed;
    else if (!Frames::AnswerVerifies(Bytes()))
        length = RecordAnswerEnd(Bytes()).value_or(FLength);
    std::vector<uint8_t> answer(FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(length));
    std::copy(FBuffer.begin() + static_cast<ptrdiff_t>(length), FBuffer.begin() + static_cast<ptrdiff_t>(FLength),
              FBuffer.begin());
    FLength -= length;
    std::fill(FBuffer.begin() + static_cast<ptrdiff_t>(FLength), FBuffer.end(), uint8_t{0});
    return answer;
}
