#pragma once
// The value types of the port's settings. Ordinals follow the declaration
// order, which stored settings and the text forms rely on.

#include <cstdint>
#include <initializer_list>

enum class TBaudRate : uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum class TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum class TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum class TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum class TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum class TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum class TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum class TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum class TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
enum class TStoredProp : uint8_t { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
enum class TComEvent : uint8_t {
    evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum class TComSignal : uint8_t { csCTS, csDSR, csRing, csRLSD };
enum class TComError : uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum class TOperationKind : uint8_t { okWrite, okRead };

// A set of enumeration values, bit n for ordinal n.
template <typename E, typename Bits>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> Values)
    {
        for (E v : Values) Include(v);
    }
    static constexpr TSet FromBits(Bits Value)
    {
        TSet s;
        s.FBits = Value;
        return s;
    }
    constexpr Bits ToBits() const { return FBits; }
    constexpr bool Contains(E Value) const { return (FBits >> static_cast<unsigned>(Value)) & 1u; }
    constexpr void Include(E Value) { FBits = static_cast<Bits>(FBits | (Bits{1} << static_cast<unsigned>(Value))); }
    constexpr void Exclude(E Value) { FBits = static_cast<Bits>(FBits & ~(Bits{1} << static_cast<unsigned>(Value))); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool operator==(const TSet&) const = default;

private:
    Bits FBits = 0;
};

using TComEvents = TSet<TComEvent, uint16_t>;
using TStoredProps = TSet<TStoredProp, uint8_t>;
using TComSignals = TSet<TComSignal, uint8_t>;
using TComErrors = TSet<TComError, uint8_t>;

inline constexpr TComEvents AllComEvents{TComEvent::evRxChar, TComEvent::evTxEmpty, TComEvent::evRxFlag,
                                         TComEvent::evRing,   TComEvent::evBreak,   TComEvent::evCTS,
                                         TComEvent::evDSR,    TComEvent::evError,   TComEvent::evRLSD,
                                         TComEvent::evRx80Full};
