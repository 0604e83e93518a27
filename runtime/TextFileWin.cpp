// Text files on Windows: Unicode file names, the bytes in the ANSI code page
// (GetACP), and the system's own sharing: while a file is open here, others
// may open it for reading only, and an open here that meets a writer is
// refused with the system's error 32.
//
// The shared declaration keeps a C runtime descriptor; here that descriptor
// owns the file's HANDLE (_open_osfhandle), and closing it closes the handle.

#include "runtime/TextFile.h"

#include <windows.h>

#include <io.h>

#include <cerrno>
#include <fcntl.h>
#include <utility>

#include "runtime/CodePage.h"
#include "runtime/Exceptions.h"
#include "runtime/WideText.h"

namespace {

constexpr size_t MaxNameCharacters = 259;
constexpr size_t ReadChunk = 4096;

constexpr int32_t CodeInvalidFilename = 3;
// A step on a file that is closed, also one released by a failed step.
constexpr int32_t CodeFileNotOpen = 103;
constexpr int32_t CodeDiskFull = 101;

[[noreturn]] void RaiseInOut(int32_t Code)
{
    throw EInOutError(Code, InOutErrorMessage(Code));
}

// The system's error numbers are the codes, but for the few that the table
// names otherwise.
[[noreturn]] void RaiseForError(DWORD Error)
{
    switch (Error) {
    case ERROR_INVALID_NAME: case ERROR_FILENAME_EXCED_RANGE: case ERROR_BAD_PATHNAME: case ERROR_DIRECTORY:
        RaiseInOut(CodeInvalidFilename);
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL:
        RaiseInOut(CodeDiskFull);
    default:
        RaiseInOut(static_cast<int32_t>(Error));
    }
}

// The name goes to the system as the path's own UTF-16 text.
const std::wstring& WideName(const std::filesystem::path& Name)
{
    const std::wstring& wide = Name.native();
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos || wide.size() > MaxNameCharacters)
        RaiseInOut(CodeInvalidFilename);
    return wide;
}

textfile_detail::TFileHandle OpenShared(const std::filesystem::path& Name, DWORD Access, DWORD Disposition)
{
    const std::wstring& name = WideName(Name);
    const HANDLE file = ::CreateFileW(name.c_str(), Access, FILE_SHARE_READ, nullptr, Disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) RaiseForError(::GetLastError());
    const int descriptor =
        ::_open_osfhandle(reinterpret_cast<intptr_t>(file), Access == GENERIC_READ ? _O_RDONLY : _O_WRONLY);
    if (descriptor < 0) {
        ::CloseHandle(file);
        RaiseInOut(4);
    }
    return textfile_detail::TFileHandle(descriptor);
}

HANDLE SystemHandle(const textfile_detail::TFileHandle& File)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(File.Fd()));
}

} // namespace

std::string Utf8ToNarrow(std::string_view Text)
{
    std::wstring wide = Utf8ToWide(Text);
    // Only UTF-8 among the ANSI code pages holds characters beyond the first
    // plane; elsewhere each of them is one default character, not one for
    // each half of its surrogate pair.
    if (::GetACP() != CP_UTF8) {
        std::wstring single;
        single.reserve(wide.size());
        for (size_t i = 0; i < wide.size(); ++i) {
            const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size();
            single += pair ? L'\xFFFD' : wide[i];
            if (pair) ++i;
        }
        wide = std::move(single);
    }
    if (wide.empty()) return {};
    // No best fit: a character the code page lacks becomes its default
    // character rather than a look-alike.
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::string NarrowToUtf8(std::string_view Bytes)
{
    if (Bytes.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_ACP, 0, Bytes.data(), static_cast<int>(Bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, Bytes.data(), static_cast<int>(Bytes.size()), wide.data(), size);
    return WideToUtf8(wide);
}

namespace textfile_detail {

TFileHandle& TFileHandle::operator=(TFileHandle&& Other) noexcept
{
    if (this != &Other) {
        Close();
        FFd = Other.Release();
    }
    return *this;
}

TFileHandle::~TFileHandle() { Close(); }

int TFileHandle::Close()
{
    if (FFd < 0) return 0;
    // The descriptor and its handle are gone whatever the close reports.
    _doserrno = 0;
    if (::_close(Release()) == 0) return 0;
    // The C runtime keeps the system's error number beside errno.
    return _doserrno != 0 ? static_cast<int>(_doserrno) : ERROR_GEN_FAILURE;
}

} // namespace textfile_detail

TTextFileWriter::TTextFileWriter(const std::filesystem::path& Name)
    : FFile(OpenShared(Name, GENERIC_WRITE, CREATE_ALWAYS))
{
}

void TTextFileWriter::Fail(int Error)
{
    FFile.Close();
    RaiseForError(static_cast<DWORD>(Error));
}

void TTextFileWriter::WriteLine(std::string_view Text)
{
    if (!FFile.IsOpen()) RaiseInOut(CodeFileNotOpen);
    const std::string line = Utf8ToNarrow(Text) + "\r\n";
    std::string_view rest = line;
    while (!rest.empty()) {
        DWORD written = 0;
        if (!::WriteFile(SystemHandle(FFile), rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr))
            Fail(static_cast<int>(::GetLastError()));
        if (written == 0) Fail(ERROR_DISK_FULL); // nothing taken: the disk is full
        rest.remove_prefix(written);
    }
}

void TTextFileWriter::Close()
{
    if (!FFile.IsOpen()) RaiseInOut(CodeFileNotOpen);
    if (const int error = FFile.Close(); error != 0) RaiseForError(static_cast<DWORD>(error));
}

TTextFileReader::TTextFileReader(const std::filesystem::path& Name)
    : FFile(OpenShared(Name, GENERIC_READ, OPEN_EXISTING)), FBuffer(ReadChunk)
{
}

void TTextFileReader::Fail(int Error)
{
    FFile.Close();
    RaiseForError(static_cast<DWORD>(Error));
}

bool TTextFileReader::NextByte(char& Byte)
{
    if (FAtEnd) return false;
    if (FPos == FEnd) {
        DWORD n = 0;
        if (!::ReadFile(SystemHandle(FFile), FBuffer.data(), static_cast<DWORD>(FBuffer.size()), &n, nullptr))
            Fail(static_cast<int>(::GetLastError()));
        if (n == 0) {
            FAtEnd = true;
            return false;
        }
        FPos = 0;
        FEnd = n;
    }
    Byte = FBuffer[FPos++];
    return true;
}

std::string TTextFileReader::ReadLine()
{
    if (!FFile.IsOpen()) RaiseInOut(CodeFileNotOpen);
    std::string bytes;
    char byte = 0;
    while (NextByte(byte) && byte != '\n') {
        if (byte == '\x1A') {
            FAtEnd = true;
            break;
        }
        // CR LF ends the line like LF; a CR not followed by LF is dropped:
        // either way no CR belongs to the line.
        if (byte != '\r') bytes += byte;
    }
    return NarrowToUtf8(bytes);
}

void TTextFileReader::Close()
{
    if (!FFile.IsOpen()) RaiseInOut(CodeFileNotOpen);
    if (const int error = FFile.Close(); error != 0) RaiseForError(static_cast<DWORD>(error));
}
