// Replays every input the fuzzers kept, in the normal sanitizer build.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "FuzzTargets.h"

namespace {

void ReplayAll(const char* Folder, void (*Target)(const uint8_t*, size_t))
{
    const std::filesystem::path dir = std::filesystem::path(FUZZ_CORPUS_DIR) / Folder;
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        Target(bytes.data(), bytes.size());
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

TEST(FuzzRegressions, Answers) { ReplayAll("answers", FuzzAnswers); }
TEST(FuzzRegressions, SettingsFile) { ReplayAll("settings", FuzzSettingsFile); }

} // namespace
