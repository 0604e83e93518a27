#include "tools/Faults.h"

#include <algorithm>

namespace SimDevice {

namespace {

bool Hits(uint32_t Every, uint32_t Count)
{
    return Every != 0 && Count % Every == 0;
}

} // namespace

FaultDecision FaultSchedule::NextRecordAnswer()
{
    ++FCount;
    FaultDecision d;
    d.Drop = Hits(FPlan.DropEvery, FCount);
    d.Corrupt = !d.Drop && Hits(FPlan.CorruptEvery, FCount);
    d.Late = !d.Drop && Hits(FPlan.LateEvery, FCount);
    d.Unplug = FPlan.UnplugAfter != 0 && FCount == FPlan.UnplugAfter;
    return d;
}

size_t Corrupt(Bytes& Answer)
{
    const size_t pos = Answer.size() / 2;
    if (!Answer.empty()) Answer[pos] = static_cast<uint8_t>(~Answer[pos]);
    return pos;
}

nanoseconds LineTime(size_t Count, int32_t Baud)
{
    if (Baud <= 0) return nanoseconds{0};
    return nanoseconds{static_cast<int64_t>(Count) * 10'000'000'000LL / Baud};
}

Transmission::Transmission(Bytes Answer, TimePoint Start, int32_t Baud, nanoseconds SplitGap)
    : FAnswer(std::move(Answer)), FStart(Start), FBaud(Baud), FGap(SplitGap),
      FSplitAt(SplitGap > nanoseconds{0} && FAnswer.size() >= 2 ? FAnswer.size() / 2 : FAnswer.size())
{}

TimePoint Transmission::DueOf(size_t Index) const
{
    return FStart + LineTime(Index + 1, FBaud) + (Index >= FSplitAt ? FGap : nanoseconds{0});
}

std::span<const uint8_t> Transmission::DueBy(TimePoint Now) const
{
    size_t end = FSent;
    while (end < FAnswer.size() && DueOf(end) <= Now) ++end;
    return std::span(FAnswer).subspan(FSent, end - FSent);
}

TimePoint Transmission::End() const
{
    return FAnswer.empty() ? FStart : DueOf(FAnswer.size() - 1);
}

Outbox::Due Outbox::TakeDue(TimePoint Now)
{
    Due due;
    for (;;) {
        if (!FCurrent) {
            if (FQueue.empty() || std::max(FQueue.front().Due, FPreviousEnd) > Now) break;
            Outgoing& next = FQueue.front();
            FCurrent.emplace(std::move(next.Answer), std::max(next.Due, FPreviousEnd), next.Baud, next.SplitGap);
            FCurrentUnplugs = next.UnplugAfter;
            FQueue.pop_front();
        }
        const auto bytes = FCurrent->DueBy(Now);
        due.Data.insert(due.Data.end(), bytes.begin(), bytes.end());
        FCurrent->MarkSent(bytes.size());
        if (!FCurrent->Done()) break;
        if (!bytes.empty()) ++due.AnswersEnded;
        FPreviousEnd = FCurrent->End();
        FCurrent.reset();
        if (FCurrentUnplugs) {
            due.Unplug = true;
            break;
        }
    }
    return due;
}

std::optional<TimePoint> Outbox::NextDeadline() const
{
    if (FCurrent) return FCurrent->NextDue();
    if (FQueue.empty()) return std::nullopt;
    return std::max(FQueue.front().Due, FPreviousEnd);
}

void Outbox::Clear()
{
    FQueue.clear();
    FCurrent.reset();
    FCurrentUnplugs = false;
}

} // namespace SimDevice
