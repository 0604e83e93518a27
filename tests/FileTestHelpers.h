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
#include "runtime/TextFile.h"

namespace filetests {
std::filesystem::path MakeTempDir();
std::string ReadBytes(const std::filesystem::path& File);
void WriteBytes(const std::filesystem::path& File, std::string_view Bytes);
std::string Describe(const EInOutError& Error);
// Runs Step in a child process and returns what it returned or the error it
// raised; "(child failed)" is added when the child died (an alarm it set).
std::string RunInChild(const std::function<std::string()>& Step, bool AsNobody = false);
// Step in a child process as user and group 65534 when the test runs as root
// (root passes every permission check); otherwise as the user itself, so a
// test that refuses must take the permission away from the owner too.
std::string RunAsNobody(const std::function<std::string()>& Step);
void AddTty(const std::filesystem::path& SysRoot, const std::string& Name, const char* Driver, const char* Type);
} // namespace filetests

// A test that works in a fresh working directory of its own, with text files
// in UTF-8.
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
        SetTextFileLocale("C");
    }

    std::filesystem::path Previous, Dir;
};
