// The port list from HARDWARE\DEVICEMAP\SERIALCOMM. Under wine the tests put
// values of their own into the key and restore it afterwards; on Windows,
// where the key is the machine's own, they are skipped.

#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../FakeConnectionControls.h"
#include "WinTestHelpers.h"
#include "serial/ListComPorts.h"
#include "ui/ConnectionSettings.h"

namespace {

constexpr wchar_t SerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct TValue {
    std::wstring Name;
    std::wstring Data;
};

// The key's values while a test runs, and the key as it was afterwards.
class SerialCommKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!wintests::RunningUnderWine()) GTEST_SKIP() << "changes the machine's port list: wine only";
        Saved = ReadAll();
        ASSERT_TRUE(Saved.has_value());
    }
    void TearDown() override
    {
        if (Saved) Replace(*Saved);
    }

    static std::optional<std::vector<TValue>> ReadAll()
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::vector<TValue>{};
        std::vector<TValue> values;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256;
            wchar_t data[1024];
            DWORD size = sizeof data;
            if (::RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
                ERROR_SUCCESS)
                break;
            values.push_back({std::wstring(name, nameLength), std::wstring(data, size / 2).c_str()});
        }
        ::RegCloseKey(key);
        return values;
    }

    static void DeleteKey() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, SerialCommKey); }

    // The key holds exactly these values, in this order.
    static void Replace(const std::vector<TValue>& Values)
    {
        DeleteKey();
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SerialCommKey, 0, nullptr, REG_OPTION_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const auto& v : Values)
            ::RegSetValueExW(key, v.Name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.Data.c_str()),
                             static_cast<DWORD>((v.Data.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }

    static std::vector<std::string> Listed(std::vector<std::string> Before = {})
    {
        ListComPorts(Before);
        return Before;
    }

    std::optional<std::vector<TValue>> Saved;
};

TEST_F(SerialCommKeyTest, NamesAreSortedAsTextIgnoringCase)
{
    const struct {
        std::vector<std::wstring> Data;
        std::vector<std::string> Expected;
    } cases[] = {
        {{L"COM2", L"COM10", L"COM1", L"COM3"}, {"COM1", "COM10", "COM2", "COM3"}},
        {{L"com5", L"COM4"}, {"COM4", "com5"}},
        {{L"COM1", L"COM1"}, {"COM1", "COM1"}}, // both kept
        {{L"COM3"}, {"COM3"}},
    };
    for (const auto& c : cases) {
        std::vector<TValue> values;
        for (size_t i = 0; i < c.Data.size(); ++i) values.push_back({L"\\Device\\Test" + std::to_wstring(i), c.Data[i]});
        Replace(values);
        EXPECT_EQ(Listed({"old"}), c.Expected);
    }
}

TEST_F(SerialCommKeyTest, AValueTooLongForTheBuffersEndsTheListing)
{
    const std::wstring longest(127, L'L'); // 256 bytes with its null: still fits
    Replace({{L"\\Device\\A", L"COM1"},
             {L"\\Device\\B", longest},
             {L"\\Device\\C", std::wstring(128, L'X')},
             {L"\\Device\\D", L"COM2"}});
    EXPECT_EQ(Listed(), (std::vector<std::string>{"COM1", std::string(127, 'L')}));
}

TEST_F(SerialCommKeyTest, AnEmptyKeyEmptiesTheListAndNoKeyLeavesIt)
{
    Replace({});
    EXPECT_EQ(Listed({"COM9"}), std::vector<std::string>{});
    DeleteKey();
    EXPECT_EQ(Listed({"COM9"}), std::vector<std::string>{"COM9"});
}

// A port the system knows but does not list (some virtual ports are so) is
// offered when the settings file remembers it, under its own name only.
TEST_F(SerialCommKeyTest, ARememberedPortTheSystemKnowsJoinsTheList)
{
    const std::string known = wintests::HarnessSetting("TEST_KNOWN_PORT");
    if (known.empty()) GTEST_SKIP() << "no mapped port named in TEST_KNOWN_PORT";
    ASSERT_TRUE(ComPortPresent(known));
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path dir = wintests::MakeTempDir();
    std::filesystem::current_path(dir);
    std::string lower = known;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::wstring knownWide(known.begin(), known.end());
    const struct {
        std::vector<TValue> Listed;
        std::string Line;
        std::vector<std::string> Ports;
        std::string Selected;
    } cases[] = {
        {{{L"\\Device\\A", L"COM1"}}, known, {"COM1", known}, known},
        // Listed under another letter case: the same port, and no match.
        {{{L"\\Device\\A", L"COM1"}, {L"\\Device\\B", knownWide}}, lower, {"COM1", known}, "COM1"},
        {{{L"\\Device\\A", L"COM1"}}, "COM198", {"COM1"}, "COM1"}, // not there at all
    };
    for (const auto& c : cases) {
        Replace(c.Listed);
        wintests::WriteBytes("Settings.txt", c.Line + "\r\n");
        FakeControls window;
        ReadConnectionSettings(window);
        EXPECT_EQ(window.Com, c.Ports) << c.Line;
        EXPECT_EQ(window.ComText(), c.Selected) << c.Line;
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
}

TEST(ComPortNames, OrderIsTheLocalesIgnoringCase)
{
    std::vector<std::string> names{"COM2", "com10", "COM1", "Порт2", "порт1", "COM1"};
    SortComPorts(names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM1", "com10", "COM2", "порт1", "Порт2"}));
}

} // namespace
