#include "runtime/TextFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/CodePage.h"
#include "runtime/Exceptions.h"

static_assert(sizeof(wchar_t) == 4, "wchar_t holds a code point");

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;
constexpr char NarrowReplacement = '?';
constexpr size_t MaxNameCharacters = 259;
constexpr size_t ReadChunk = 4096;

constexpr int32_t CodeInvalidFilename = 3;
constexpr int32_t CodeAccessDenied = 5;
// A conflicting lock: the file is open for writing elsewhere, or open here
// while a writer asks for it.
constexpr int32_t CodeSharingViolation = 32;
// A step on a file that is closed, also one released by a failed step.
constexpr int32_t CodeFileNotOpen = 103;

[[noreturn]] void RaiseInOut(int32_t Code)
{
    throw EInOutError(Code, InOutErrorMessage(Code));
}

// A missing folder in the name makes the name invalid; a missing file in an
// existing folder is a file not found.
bool FolderMissing(const std::filesystem::path& Name)
{
    const std::filesystem::path folder = Name.parent_path();
    if (folder.empty()) return false;
    struct stat st {};
    return ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

// The table's code for a system error, or 0 for one the table does not name.
int32_t TableCode(int Errno)
{
    switch (Errno) {
    case ENOENT: return 2;
    case ENOTDIR: case ENAMETOOLONG: case EINVAL: case ELOOP: return CodeInvalidFilename;
    case EMFILE: case ENFILE: return 4;
    case EACCES: case EPERM: case EROFS: case ETXTBSY: case EISDIR: return CodeAccessDenied;
    case ENOSPC: case EDQUOT: return 101;
    default: return 0;
    }
}

// Any other system error keeps its own number, also where that number is one
// of the table's codes (EIO is 5): its message is always "I/O error <errno>".
[[noreturn]] void RaiseForErrno(int Errno)
{
    if (const int32_t code = TableCode(Errno); code != 0) RaiseInOut(code);
    throw EInOutError(Errno, "I/O error " + std::to_string(Errno));
}

[[noreturn]] void RaiseOpenError(int Errno, const std::filesystem::path& Name)
{
    if (Errno == ENOENT && FolderMissing(Name)) RaiseInOut(CodeInvalidFilename);
    if (Errno == EWOULDBLOCK) RaiseInOut(CodeSharingViolation);
    RaiseForErrno(Errno);
}

void CheckName(const std::filesystem::path& Name)
{
    const std::string& text = Name.native();
    if (text.empty() || text.find('\0') != std::string::npos ||
        DecodeUtf8(text).size() > MaxNameCharacters)
        RaiseInOut(CodeInvalidFilename);
}

// Opens without blocking (a FIFO without a partner would wait forever), takes
// the lock, then lets reads and writes block again.
textfile_detail::TFileHandle OpenLocked(const std::filesystem::path& Name, int Flags, int Lock,
                                        bool Truncate)
{
    CheckName(Name);
    textfile_detail::TFileHandle file(
        ::open(Name.c_str(), Flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!file.IsOpen()) RaiseOpenError(errno, Name);
    struct stat st {};
    if (::fstat(file.Fd(), &st) != 0) RaiseOpenError(errno, Name);
    if (S_ISDIR(st.st_mode)) RaiseOpenError(EISDIR, Name);
    if (::flock(file.Fd(), Lock | LOCK_NB) != 0) RaiseOpenError(errno, Name);
    const int flags = ::fcntl(file.Fd(), F_GETFL);
    if (flags < 0 || ::fcntl(file.Fd(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        RaiseOpenError(errno, Name);
    // Truncating only under the lock keeps a file that another holds intact.
    if (Truncate && S_ISREG(st.st_mode) && ::ftruncate(file.Fd(), 0) != 0)
        RaiseOpenError(errno, Name);
    return file;
}

bool NarrowIsAscii()
{
    const char* codeset = ::nl_langinfo(CODESET);
    return std::strcmp(codeset, "ANSI_X3.4-1968") == 0 || std::strcmp(codeset, "ASCII") == 0 ||
           std::strcmp(codeset, "US-ASCII") == 0;
}


void AppendNarrow(std::string& Out, char32_t CodePoint, std::mbstate_t& State)
{
    char buffer[MB_LEN_MAX];
    const size_t n = std::wcrtomb(buffer, static_cast<wchar_t>(CodePoint), &State);
    if (n == static_cast<size_t>(-1)) {
        State = std::mbstate_t{};
        Out += NarrowReplacement;
    } else {
        Out.append(buffer, n);
    }
}

} // namespace

std::string Utf8ToNarrow(std::string_view Text)
{
    std::string out;
    out.reserve(Text.size());
    if (NarrowIsAscii()) {
        for (char32_t cp : DecodeUtf8(Text))
            out += cp < 0x80 ? static_cast<char>(cp) : NarrowReplacement;
        return out;
    }
    std::mbstate_t state{};
    for (char32_t cp : DecodeUtf8(Text)) AppendNarrow(out, cp, state);
    if (!std::mbsinit(&state)) {
        // A stateful encoding ends the text in its initial shift state; the
        // conversion of the NUL that does so writes the NUL too.
        AppendNarrow(out, 0, state);
        out.pop_back();
    }
    return out;
}

std::string NarrowToUtf8(std::string_view Bytes)
{
    std::string out;
    out.reserve(Bytes.size());
    if (NarrowIsAscii()) {
        for (char c : Bytes) {
            const auto b = static_cast<uint8_t>(c);
            AppendUtf8(out, b < 0x80 ? b : ReplacementCharacter);
        }
        return out;
    }
    std::mbstate_t state{};
    size_t i = 0;
    while (i < Bytes.size()) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, Bytes.data() + i, Bytes.size() - i, &state);
        if (n == static_cast<size_t>(-2)) {
            AppendUtf8(out, ReplacementCharacter); // cut short by the end of the line
            break;
        }
        if (n == static_cast<size_t>(-1)) {
            AppendUtf8(out, ReplacementCharacter);
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        AppendUtf8(out, static_cast<char32_t>(wc));
        i += n == 0 ? 1 : n; // 0: the NUL byte itself
    }
    return out;
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
    // The descriptor is gone after close() whatever it reports.
    const int result = ::close(Release());
    return result == 0 ? 0 : errno;
}

} // namespace textfile_detail

TTextFileWriter::TTextFileWriter(const std::filesystem::path& Name)
    : FFile(OpenLocked(Name, O_WRONLY | O_CREAT, LOCK_EX, true))
{
}

void TTextFileWriter::Fail(int Errno)
{
    FFile.Close();
    RaiseForErrno(Errno);
}

void TTextFileWriter::WriteLine(std::string_view Text)
{
    if (!FFile.IsOpen()) RaiseInOut(CodeFileNotOpen);
    const std::string line = Utf8ToNarrow(Text) + "\r\n";
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::write(FFile.Fd(), rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(errno);
        if (n == 0) Fail(ENOSPC); // nothing taken: the device is full
        rest.remove_prefix(static_cast<size_t>(n));
    }
}

void TTextFileWriter::Close()
{
    if (!FFile.IsOpen()) RaiseInOut(CodeFileNotOpen);
    if (const int error = FFile.Close(); error != 0) RaiseForErrno(error);
}

TTextFileReader::TTextFileReader(const std::filesystem::path& Name)
    : FFile(OpenLocked(Name, O_RDONLY, LOCK_SH, false)), FBuffer(ReadChunk)
{
}

void TTextFileReader::Fail(int Errno)
{
    FFile.Close();
    RaiseForErrno(Errno);
}

bool TTextFileReader::NextByte(char& Byte)
{
    if (FAtEnd) return false;
    if (FPos == FEnd) {
        ssize_t n = 0;
        do {
            n = ::read(FFile.Fd(), FBuffer.data(), FBuffer.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0) Fail(errno);
        if (n == 0) {
            FAtEnd = true;
            return false;
        }
        FPos = 0;
        FEnd = static_cast<size_t>(n);
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
    if (const int error = FFile.Close(); error != 0) RaiseForErrno(error);
}
