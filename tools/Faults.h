#pragma once
// The faults the device can be told to commit, and the timing of its answers
// on the line.
//
// Drop, corrupt, late and unplug count record answers only (answers to 0x41,
// the exception answer included), one count shared by all four: the
// identification, serial-number and record-count answers are never faulted,
// so a connect always succeeds. Record answer n (from 1) is dropped when n is
// a multiple of DropEvery; otherwise corrupted when a multiple of
// CorruptEvery and late when a multiple of LateEvery (both may apply). The
// line goes after record answer UnplugAfter. 0 turns a fault off.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "tools/Device.h"

namespace SimDevice {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using std::chrono::nanoseconds;

struct FaultPlan {
    uint32_t DropEvery = 0;
    uint32_t CorruptEvery = 0;
    uint32_t LateEvery = 0;
    nanoseconds Late{0};
    uint32_t UnplugAfter = 0;
};

struct FaultDecision {
    bool Drop = false;
    bool Corrupt = false;
    bool Late = false;
    bool Unplug = false; // the line goes once this answer is out (or dropped)

    bool operator==(const FaultDecision&) const = default;
};

class FaultSchedule {
public:
    explicit FaultSchedule(FaultPlan Plan) : FPlan(Plan) {}
    FaultDecision NextRecordAnswer();
    uint32_t RecordAnswers() const { return FCount; }

private:
    FaultPlan FPlan;
    uint32_t FCount = 0;
};

// Inverts every bit of the answer's middle byte, which the checksum then no
// longer covers. Returns the byte's position.
size_t Corrupt(Bytes& Answer);

// The time Count bytes take on the line at Baud, 10 bits a byte.
nanoseconds LineTime(size_t Count, int32_t Baud);

// One answer on its way out. Unpaced, all bytes are due at Start; paced at
// Baud, byte i is due when its last bit would have arrived, Start + (i + 1)
// byte times. With a split gap, the second half (from byte size / 2) comes
// that much later. Every deadline is computed from Start, so lateness never
// accumulates.
class Transmission {
public:
    Transmission(Bytes Answer, TimePoint Start, int32_t Baud, nanoseconds SplitGap);
    TimePoint DueOf(size_t Index) const;
    // The bytes due by Now that are not yet marked sent.
    std::span<const uint8_t> DueBy(TimePoint Now) const;
    void MarkSent(size_t Count) { FSent += Count; }
    bool Done() const { return FSent == FAnswer.size(); }
    TimePoint NextDue() const { return DueOf(FSent); }
    TimePoint End() const;

private:
    Bytes FAnswer;
    TimePoint FStart;
    int32_t FBaud;
    nanoseconds FGap;
    size_t FSplitAt;
    size_t FSent = 0;
};

struct Outgoing {
    Bytes Answer;     // may be empty: a dropped answer that still ends in an unplug
    TimePoint Due;    // the earliest time it may start
    int32_t Baud = 0; // 0: not paced
    nanoseconds SplitGap{0};
    bool UnplugAfter = false;
};

// Answers leave in the order their requests came: one that is due later
// (a late answer) holds back those queued behind it, and none starts before
// the previous one is all out.
class Outbox {
public:
    struct Due {
        Bytes Data;          // to write now, in order
        bool Unplug = false; // an answer marked UnplugAfter is all out: nothing follows
        size_t AnswersEnded = 0; // answers whose last byte is in Data
    };
    void Add(Outgoing Item) { FQueue.push_back(std::move(Item)); }
    Due TakeDue(TimePoint Now);
    std::optional<TimePoint> NextDeadline() const;
    bool Empty() const { return FQueue.empty() && !FCurrent; }
    void Clear();

private:
    std::deque<Outgoing> FQueue;
    std::optional<Transmission> FCurrent;
    bool FCurrentUnplugs = false;
    TimePoint FPreviousEnd{};
};

} // namespace SimDevice
