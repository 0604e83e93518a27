#pragma once
// Puts answers together from the pieces the line delivers.
//
// A read may bring part of an answer, a whole one, or one answer and the
// start of the next. Where the function code fixes an answer's length the
// answer is complete as soon as that many bytes are in; otherwise it is
// complete when its bytes verify and the line then stays silent, which only
// the caller can tell: the assembler says which silence it is waiting for.
//
// A record answer (0x41) carries a byte count at position 2, but not every
// device means the same by it, and some put anything there. So the count is
// believed only once the device has shown what it means: when the first
// record answers judged by silence all had the length that the count gives,
// counted one way (the text alone, or every byte after it), a record answer
// is complete as soon as it is that long and its checksum holds. An answer
// judged by silence whose length disagrees ends that belief for good, until
// the caller starts over with a new connection.

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
    // Every byte assembled, after the silence that state asVerifiesSoFar
    // waited for; a record answer among them is evidence of what its byte
    // count means.
    std::vector<uint8_t> TakeAnswerAfterSilence();
    void Drop() { FLength = 0; }

    // Record answers judged by silence that must agree with their byte count
    // before it is believed.
    static constexpr int AnswersToTrustByteCount = 3;
    // True once the byte count of record answers is believed.
    bool TrustsByteCount() const { return FAgreeing >= AnswersToTrustByteCount; }
    // A new connection, perhaps to another device: nothing is known of it.
    void ForgetByteCount();

private:
    std::optional<size_t> TrustedRecordAnswerEnd() const;
    std::optional<size_t> BackToBackRecordAnswerEnd() const;

    // Zeroed, like the receive buffer; the last position is never filled.
    std::array<uint8_t, 256> FBuffer{};
    size_t FLength = 0;
    // What is known of the record answers' byte count: how many answers
    // agreed with it and by how much the whole answer is longer than the
    // count (5 when it counts the text alone, 3 when it counts every byte
    // after it). Once an answer has disagreed, nothing more is learnt.
    int FAgreeing = 0;
    size_t FCountedAfter = 0;
    bool FDisagreed = false;
};
