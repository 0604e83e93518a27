#pragma once
// Helpers of the file tests, defined in textfile_tests.cpp: temporary
// folders, raw bytes on disk, and steps run as an unprivileged user.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "runtime/Exceptions.h"

namespace filetests {
std::filesystem::path MakeTempDir();
std::string ReadBytes(const std::filesystem::path& File);
void WriteBytes(const std::filesystem::path& File, std::string_view Bytes);
std::string Describe(const EInOutError& Error);
std::string RunAsNobody(const std::function<std::string()>& Step);
void AddTty(const std::filesystem::path& SysRoot, const std::string& Name, const char* Driver, const char* Type);
} // namespace filetests
