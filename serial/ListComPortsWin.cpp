// The serial ports present, as the system lists them in the registry.

#include "serial/ListComPorts.h"

#include <windows.h>

#include <algorithm>

#include "runtime/WideText.h"

namespace {

constexpr wchar_t SerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD NameCharacters = 256;
// Announced in bytes: a port name can have at most 127 characters.
constexpr DWORD DataBytes = 256;

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
    const std::wstring left = Utf8ToWide(Left);
    const std::wstring right = Utf8ToWide(Right);
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, left.data(), static_cast<int>(left.size()),
                            right.data(), static_cast<int>(right.size())) == CSTR_LESS_THAN;
}

void SortComPorts(std::vector<std::string>& Names)
{
    std::stable_sort(Names.begin(), Names.end(),
                     [](const std::string& a, const std::string& b) { return ComPortNameLess(a, b); });
}

bool ComPortPresent(const std::string& Port, const std::filesystem::path&)
{
    if (Port.empty()) return false;
    const std::wstring name = Utf8ToWide(Port);
    if (name.find_first_of(L"\\/:") != std::wstring::npos) return false;
    wchar_t target[1024];
    return ::QueryDosDeviceW(name.c_str(), target, static_cast<DWORD>(std::size(target))) != 0 ||
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
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
        names.push_back(WideToUtf8(text.substr(0, text.find(L'\0'))));
    }
    SortComPorts(names);
    Target = std::move(names);
}
