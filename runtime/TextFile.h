#pragma once
// Text files written and read line by line. Program texts are UTF-8; the
// files carry no byte-order mark.
//
// Encoding: UTF-8, unless SetTextFileLocale fixed a locale of another
// character set (an 8-bit one such as KOI8-R, CP1251, ISO-8859-5), which then
// holds for every file; a character it cannot hold is written as '?'.
//
// Every open, line read, line write and close that fails raises EInOutError
// with the code and message of InOutErrorMessage, and releases the file at
// once: a later step on that object raises "I/O error 103" (file not open).
//
// Sharing: while a file is open here, other programs may read it but not
// write it. The file carries a BSD lock (flock) on its open file
// description: shared while reading, exclusive while writing. A program that
// takes the exclusive lock to write is refused, and so is an open here that
// meets a conflicting lock: "I/O error 32", the file left as it was.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/CodePage.h"

// "File not found" (2), "Invalid filename" (3), "Too many open files" (4),
// "File access denied" (5), "Read beyond end of file" (100), "Disk full"
// (101), "Invalid numeric input" (106), otherwise "I/O error <code>".
std::string InOutErrorMessage(int32_t Code);

// Fixes the encoding of text files, for the rest of the run, to the character
// set of the LC_CTYPE locale Name ("" for the one the environment names).
// Where that locale is not installed or its character set is UTF-8 or plain
// ASCII (C, POSIX), text files are UTF-8: a locale that cannot hold Cyrillic
// never turns the device's texts into '?'. Later changes of the process's
// locale (a toolkit may set its own) change nothing here.
void SetTextFileLocale(const char* Name);
// "UTF-8", or the character set of the locale SetTextFileLocale fixed.
std::string TextFileCharacterSet();

// A program text in the text files' encoding: a character the encoding cannot
// hold becomes '?'.
std::string Utf8ToNarrow(std::string_view Text);
// Bytes in the text files' encoding as a program text: each byte that starts
// no character becomes one U+FFFD.
std::string NarrowToUtf8(std::string_view Bytes);

namespace textfile_detail {

// Owns one open file descriptor.
class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(int Fd) : FFd(Fd) {}
    TFileHandle(TFileHandle&& Other) noexcept : FFd(Other.Release()) {}
    TFileHandle& operator=(TFileHandle&& Other) noexcept;
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    ~TFileHandle();

    int Fd() const { return FFd; }
    bool IsOpen() const { return FFd >= 0; }
    int Release() { int fd = FFd; FFd = -1; return fd; }
    // Closes the descriptor; returns the errno of a failed close, else 0.
    int Close();

private:
    int FFd = -1;
};

} // namespace textfile_detail

// Opening creates the file or truncates it. Every line is followed by CR LF.
class TTextFileWriter {
public:
    explicit TTextFileWriter(const std::filesystem::path& Name);

    void WriteLine(std::string_view Text);
    void Close();

private:
    [[noreturn]] void Fail(int Errno);
    textfile_detail::TFileHandle FFile;
};

// A line ends at CR LF or a lone LF; a CR not followed by LF is dropped; a
// byte 0x1A ends the file; a line past the end reads as empty text. Nothing
// is trimmed.
//
// Only a regular file is read: a device (/dev/zero) never ends and a FIFO
// may block forever, so either is refused as "File access denied". A line
// keeps at most its first MaxLineBytes bytes (a character the limit cuts in
// two is dropped whole); the rest of it is read past without a word. The
// files read here hold short texts (a port name, a speed, an address), and
// a huge line must not exhaust memory or freeze the window that shows it.
class TTextFileReader {
public:
    static constexpr size_t MaxLineBytes = 1024;

    explicit TTextFileReader(const std::filesystem::path& Name);

    std::string ReadLine();
    void Close();

private:
    [[noreturn]] void Fail(int Errno);
    // False at the end of the file.
    bool NextByte(char& Byte);

    textfile_detail::TFileHandle FFile;
    std::vector<char> FBuffer;
    size_t FPos = 0;
    size_t FEnd = 0;
    bool FAtEnd = false;
};
