#include "ui/cli/CliProgress.h"

#include <algorithm>

TCliProgress::TCliProgress(std::FILE* Output, bool Terminal, int32_t Total)
    : FOutput(Output), FTerminal(Terminal), FTotal(std::max(Total, 0))
{
}

std::string TCliProgress::BarText(int32_t Done, int32_t Total, std::chrono::duration<double> Elapsed)
{
    constexpr int Width = 30;
    const double part = Total > 0 ? std::clamp(static_cast<double>(Done) / Total, 0.0, 1.0) : 1.0;
    const int filled = static_cast<int>(part * Width);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(Width - filled), '.');

    const double seconds = Elapsed.count();
    const double rate = seconds > 0 ? Done / seconds : 0;
    char left[32] = "--:--";
    if (rate > 0) {
        const auto remaining = static_cast<long>((Total - Done) / rate + 0.5);
        std::snprintf(left, sizeof left, "%ld:%02ld", remaining / 60, remaining % 60);
    }
    char text[160];
    std::snprintf(text, sizeof text, "[%s] %d/%d records %3d%%  %.1f records/s  %s left", bar.c_str(), Done, Total,
                  static_cast<int>(part * 100), rate, left);
    return text;
}

void TCliProgress::Update(int32_t Done)
{
    if (Done == FDone) return;
    FDone = Done;
    if (FTerminal) {
        // Redrawn at most ten times a second, and at the end.
        const auto now = TClock::now();
        if (FDrawn && Done < FTotal && now - FLastDrawn < std::chrono::milliseconds(100)) return;
        FLastDrawn = now;
        FDrawn = true;
        FDrawnDone = Done;
        std::fprintf(FOutput, "\r%s\x1b[K", BarText(Done, FTotal, now - FStart).c_str());
        std::fflush(FOutput);
        return;
    }
    if (FTotal == 0) return;
    const int32_t step = static_cast<int32_t>(std::min<int64_t>(int64_t{Done} * 20 / FTotal, 20));
    if (step <= FLastStep || step == 0) return;
    FLastStep = step;
    std::fprintf(FOutput, "actionlog: %d/%d records (%d %%)\n", Done, FTotal, step * 5);
    std::fflush(FOutput);
}

void TCliProgress::Finish()
{
    if (FTerminal && FDrawn) {
        // The last redraw may have been skipped as too soon after the one before.
        if (FDrawnDone != FDone)
            std::fprintf(FOutput, "\r%s\x1b[K", BarText(FDone, FTotal, TClock::now() - FStart).c_str());
        std::fprintf(FOutput, "\n");
        std::fflush(FOutput);
    }
    FDrawn = false;
}
