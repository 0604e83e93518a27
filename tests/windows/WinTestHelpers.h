#pragma once
// Helpers of the Windows test programs: temporary folders, raw bytes on
// disk, owned handles, the harness's settings, and the main thread's queue.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace wintests {

std::filesystem::path MakeTempDir();
std::string ReadBytes(const std::filesystem::path& File);
void WriteBytes(const std::filesystem::path& File, std::string_view Bytes);

// True under wine, which shows a few things differently from Windows.
bool RunningUnderWine();

// An environment variable the harness (tests/wine/run-test.sh) sets, or "".
std::string HarnessSetting(const char* Name);

class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE Handle) : FHandle(Handle) {}
    ~THandle() { Reset(); }
    THandle(THandle&& Other) noexcept : FHandle(std::exchange(Other.FHandle, INVALID_HANDLE_VALUE)) {}
    THandle& operator=(THandle&& Other) noexcept
    {
        if (this != &Other) {
            Reset();
            FHandle = std::exchange(Other.FHandle, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    HANDLE Get() const { return FHandle; }
    bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
    void Reset()
    {
        if (Valid()) ::CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE FHandle = INVALID_HANDLE_VALUE;
};

} // namespace wintests
