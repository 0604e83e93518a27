#pragma once
// The trace of --trace: every frame that went out and every piece that came
// in, with a millisecond time stamp and its bytes in hex, and what the
// exchange controller made of it.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "protocol/ExchangeController.h"

class TCliTrace {
public:
    explicit TCliTrace(std::FILE* Output) : FOutput(Output) {}
    ~TCliTrace() { FlushReceived(); }
    TCliTrace(const TCliTrace&) = delete;
    TCliTrace& operator=(const TCliTrace&) = delete;

    // A request written to the port.
    void Sent(std::span<const uint8_t> Frame);
    // Bytes one read brought. Reads in a row make one line, stamped with the
    // time of the first, written before the next line of another kind; a
    // paced line brings an answer a few bytes at a time.
    void Received(std::span<const uint8_t> Bytes);
    // What the controller decided.
    void Note(TExchangeController::TTraceNote Note, std::span<const uint8_t> Bytes);
    void Line(const std::string& Text);

private:
    void FlushReceived();
    void Write(const std::string& Stamp, const std::string& Text);

    std::FILE* FOutput;
    std::vector<uint8_t> FReceived;
    std::string FReceivedStamp;
    int FReceivedReads = 0;
    std::chrono::steady_clock::time_point FFirstRead;
    std::chrono::steady_clock::time_point FLastRead;
};

// "01 11 C0 2C"
std::string HexBytes(std::span<const uint8_t> Bytes);
// What a request frame asks for, e.g. "record request, index 299".
std::string DescribeRequest(std::span<const uint8_t> Frame);
// What a whole answer whose checksum holds says.
std::string DescribeAnswer(std::span<const uint8_t> Answer);
// The text with every control character written as \xNN.
std::string Printable(const std::string& Text);
