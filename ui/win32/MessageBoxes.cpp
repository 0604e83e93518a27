#include "ui/win32/MessageBoxes.h"

#include <vector>

#include "runtime/ExceptionDisplay.h"
#include "runtime/Exceptions.h"
#include "runtime/WideText.h"

std::wstring ApplicationTitle()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) break;
        path.resize(path.size() * 2);
    }
    std::wstring name(path.data());
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    if (name.size() > 1) CharLowerBuffW(name.data() + 1, static_cast<DWORD>(name.size() - 1));
    return name;
}

std::string WithFullStop(const std::string& Message)
{
    // The last byte of a UTF-8 sequence is above '.' exactly when its
    // character's code is.
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + '.';
    return Message;
}

namespace {

void ShowBox(HWND Owner, UINT Icon, const std::string& Message)
{
    MessageBoxW(Owner, Utf8ToWide(Message).c_str(), ApplicationTitle().c_str(), MB_OK | Icon);
}

} // namespace

void ShowErrorBox(HWND Owner, const std::string& Message)
{
    ShowBox(Owner, MB_ICONERROR, WithFullStop(Message));
}

void ShowMessageBox(HWND Owner, const std::string& Message)
{
    ShowBox(Owner, 0, Message);
}

void RunGuarded(const std::function<void()>& Handler) noexcept
{
    try {
        try {
            Handler();
        } catch (const std::exception& e) {
            ShowException(e);
        } catch (...) {
            ShowException(Exception("Unknown exception"));
        }
    } catch (...) {
        // The display itself failed (no memory): nothing is left to show it with.
    }
}
