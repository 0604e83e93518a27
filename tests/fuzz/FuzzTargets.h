#pragma once
// Entry points shared by the fuzzers and by the test that replays the inputs
// they found.

#include <cstddef>
#include <cstdint>

// Arbitrary bytes arriving in arbitrary chunks into the exchange controller,
// interleaved with timer ticks and button clicks, and every decoder.
void FuzzAnswers(const uint8_t* Data, size_t Size);
// Arbitrary bytes as "Settings.txt", read at start-up.
void FuzzSettingsFile(const uint8_t* Data, size_t Size);
