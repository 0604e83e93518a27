#pragma once
// The trace of --trace: every frame that went out and every piece that came
// in, with a millisecond time stamp and its bytes in hex, and what the
// exchange controller made of it.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "protocol/ExchangeController.h"

class TCliTrace {
public:
    explicit TCliTrace(std::FILE* Output) : FOutput(Output) {}

    // A request written to the port.
    void Sent(std::span<const uint8_t> Frame);
    // Bytes one read brought; an answer may come in several pieces.
    void Received(std::span<const uint8_t> Bytes);
    // What the controller decided.
    void Note(TExchangeController::TTraceNote Note, std::span<const uint8_t> Bytes);
    void Line(const std::string& Text);

private:
    std::FILE* FOutput;
};

// "01 11 C0 2C"
std::string HexBytes(std::span<const uint8_t> Bytes);
// What a request frame asks for, e.g. "record request, index 299".
std::string DescribeRequest(std::span<const uint8_t> Frame);
// What a whole answer whose checksum holds says.
std::string DescribeAnswer(std::span<const uint8_t> Answer);
// The text with every control character written as \xNN.
std::string Printable(const std::string& Text);
