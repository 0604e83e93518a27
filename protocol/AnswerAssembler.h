#pragma once
// Puts answers together from the pieces the line delivers.
//
// A read may bring part of an answer, a whole one, or one answer and the
// start of the next. Where the function code fixes an answer's length the
// answer is complete as soon as that many bytes are in; otherwise it is
// complete when its bytes verify and the line then stays silent, which only
// the caller can tell: the assembler says which silence it is waiting for.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class TAnswerAssembler {
public:
    enum class TState : uint8_t {
        asEmpty,          // nothing assembled
        asComplete,       // TakeAnswer() gives a whole answer
        asVerifiesSoFar,  // length not fixed, bytes verify: complete after a short silence
        asIncomplete,     // waiting for more bytes; dropped after a long silence
        asOverflow,       // the buffer is full and holds no answer: drop it
    };

    // Where the next read goes: the free part of the 255 usable bytes.
    std::span<uint8_t> FreeSpace();
    // Count bytes were read into FreeSpace().
    void Commit(size_t Count);

    TState State() const;
    std::span<const uint8_t> Bytes() const { return std::span(FBuffer).first(FLength); }

    // The first whole answer (state asComplete), or every byte assembled
    // (state asVerifiesSoFar, after the silence). Bytes beyond it start the
    // next answer.
    std::vector<uint8_t> TakeAnswer();
    void Drop() { FLength = 0; }

private:
    // Zeroed, like the receive buffer; the last position is never filled.
    std::array<uint8_t, 256> FBuffer{};
    size_t FLength = 0;
};
