#pragma once
// The progress of a download on the standard error: a bar redrawn in place
// on a terminal (records done of all, records per second, time left), one
// line for every 5 % of the records otherwise.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class TCliProgress {
public:
    using TClock = std::chrono::steady_clock;

    TCliProgress(std::FILE* Output, bool Terminal, int32_t Total);
    // Done records of Total so far.
    void Update(int32_t Done);
    // Ends the bar's line.
    void Finish();

    // The bar's text for Done of Total after Elapsed, without the line's
    // start; for the terminal.
    static std::string BarText(int32_t Done, int32_t Total, std::chrono::duration<double> Elapsed);

private:
    std::FILE* FOutput;
    bool FTerminal;
    int32_t FTotal;
    int32_t FDone = -1;
    int32_t FLastStep = -1;
    TClock::time_point FStart = TClock::now();
    TClock::time_point FLastDrawn{};
    bool FDrawn = false;
    int32_t FDrawnDone = -1;
};
