#pragma once
// Runs the main thread's queue from a test, as a window's message loop would.

#include <chrono>
#include <functional>

// Pumps until Done holds or a generous limit passes (the limit only catches
// hangs). Returns Done().
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = std::chrono::seconds(5));
void PumpFor(std::chrono::milliseconds Time);
