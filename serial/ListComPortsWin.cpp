// The serial ports present, as the system lists them in the registry.

#include "serial/ListComPorts.h"

#include <windows.h>

#include <algorithm>

#include "runtime/CodePage.h"

namespace {

constexpr wchar_t SerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD NameCharacters = 256;
// Announced in bytes: a port name can have at most 127 characters.
constexpr DWORD DataBytes = 256;

std::wstring Utf16(std::string_view Text)
{
    std::wstring out;
    out.reserve(Text.size());
    for (char32_t cp : DecodeUtf8(Text)) {
        if (cp < 0x10000) {
            out += static_cast<wchar_t>(cp);
        } else {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        }
    }
    return out;
}

std::string Utf8(std::wstring_view Text)
{
    if (Text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
}

// Closes the key however the listing ends.
class TRegistryKey {
public:
    explicit TRegistryKey(HKEY Key) : FKey(Key) {}
    ~TRegistryKey() { ::RegCloseKey(FKey); }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;
    HKEY Get() const { return FKey; }

private:
    HKEY FKey;
};

} // namespace

bool ComPortNameLess(std::string_view Left, std::string_view Right)
{
    const std::wstring left = Utf16(Left);
    const std::wstring right = Utf16(Right);
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, left.data(), static_cast<int>(left.size()),
                            right.data(), static_cast<int>(right.size())) == CSTR_LESS_THAN;
}

void SortComPorts(std::vector<std::string>& Names)
{
    std::stable_sort(Names.begin(), Names.end(),
                     [](const std::string& a, const std::string& b) { return ComPortNameLess(a, b); });
}

// The folders of the other systems' listing have no meaning here.
void ListComPorts(std::vector<std::string>& Target, const std::filesystem::path&, const std::filesystem::path&)
{
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialCommKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
    const TRegistryKey key(opened);

    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[NameCharacters];
        DWORD nameLength = NameCharacters;
        wchar_t data[DataBytes / sizeof(wchar_t)];
        DWORD dataSize = DataBytes;
        DWORD type = 0;
        // No more values, a value too long for the buffers, or any other
        // failure: the names found so far are the list.
        if (::RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                            &dataSize) != ERROR_SUCCESS)
            break;
        // The name ends at its terminating null; nothing after it counts.
        const std::wstring_view text(data, dataSize / sizeof(wchar_t));
        names.push_back(Utf8(text.substr(0, text.find(L'\0'))));
    }
    SortComPorts(names);
    Target = std::move(names);
}
