#pragma once
// The user actions log the device holds: generated, or read from a file.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/Device.h"

namespace SimDevice {

// Record lengths in Windows-1251 bytes.
struct LengthRange {
    size_t Min = 0;
    size_t Max = 250;
};

inline constexpr size_t MaxRecordLength = 250;

// Count log lines such as "12.03.2026 08:15:42 Оператор: вход в систему
// (уровень 2)", oldest first, the same for the same seed. Without a range
// each line keeps its natural length; with one each line is lengthened with
// further detail to a length drawn from the range.
std::vector<Bytes> GenerateLog(size_t Count, uint32_t Seed, const std::optional<LengthRange>& Range);

// One record per line of a UTF-8 file (LF or CR LF). Lines longer than the
// range are cut, shorter ones lengthened with further detail. Throws
// std::runtime_error when the file cannot be read.
std::vector<Bytes> ReadRecordsFile(const std::string& Path, const LengthRange& Range, uint32_t Seed);

// The records as UTF-8, one per line, index 0 first, each ending in LF.
// Throws std::runtime_error when the file cannot be written.
void WriteDump(const std::string& Path, const std::vector<Bytes>& Records);

} // namespace SimDevice
