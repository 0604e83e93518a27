#include "protocol/AnswerAssembler.h"

#include "protocol/Frames.h"

#include <algorithm>

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
    return FLength == Frames::MaxAnswerLength ? TState::asOverflow : TState::asIncomplete;
}

std::vector<uint8_t> TAnswerAssembler::TakeAnswer()
{
    const auto fixed = Frames::FixedAnswerLength(Bytes());
    const size_t length = (fixed && *fixed <= FLength) ? *fixed : FLength;
    std::vector<uint8_t> answer(FBuffer.begin(), FBuffer.begin() + static_cast<ptrdiff_t>(length));
    std::copy(FBuffer.begin() + static_cast<ptrdiff_t>(length), FBuffer.begin() + static_cast<ptrdiff_t>(FLength),
              FBuffer.begin());
    FLength -= length;
    std::fill(FBuffer.begin() + static_cast<ptrdiff_t>(FLength), FBuffer.end(), uint8_t{0});
    return answer;
}
