#pragma once
// What the command line needs of the operating system besides the serial
// port: one wait for a hand-over from the port's event thread, a timer's
// deadline or an interrupt (SIGINT/SIGTERM, or the console's Ctrl-C and
// close), and whether the standard error is a terminal. One file per system.

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace CliPlatform {

using TClock = std::chrono::steady_clock;

class TWaitSet {
public:
    // Takes over the interrupts; only one may exist at a time.
    TWaitSet();
    ~TWaitSet();
    TWaitSet(const TWaitSet&) = delete;
    TWaitSet& operator=(const TWaitSet&) = delete;

    // From any thread: ends the current or next Wait.
    void Wake();
    // Returns after a Wake, an interrupt or the deadline, whichever is first.
    void Wait(std::optional<TClock::time_point> Deadline);
    // The interrupts since the last call, as signal numbers, oldest first.
    std::vector<int> TakeInterrupts();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// A terminal that shows the progress bar's redraws in place.
bool StderrIsTerminal();

} // namespace CliPlatform
