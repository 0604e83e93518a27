#pragma once
// Helpers of the file tests, defined in textfile_tests.cpp: temporary
// folders, raw bytes on disk, and steps run as an unprivileged user.

#include <gtest/gtest.h>

#include <clocale>
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

// A test that works in a fresh working directory of its own, with the
// UTF-8 locale as the system's narrow encoding.
class TWorkingDirTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
        Previous = std::filesystem::current_path();
        Dir = filetests::MakeTempDir();
        std::filesystem::current_path(Dir);
    }
    void TearDown() override
    {
        std::filesystem::current_path(Previous);
        std::filesystem::remove_all(Dir);
        std::setlocale(LC_CTYPE, "C");
    }

    std::filesystem::path Previous, Dir;
};
