#pragma once
// The exception family every layer raises. No layer returns error codes:
// conversions raise EConvertError, file steps EInOutError, the serial
// component EComPort; EAbort is the silent one the window never shows.

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

class EInOutError : public Exception {
public:
    EInOutError(int32_t ErrorCode, std::string Message)
        : Exception(std::move(Message)), FErrorCode(ErrorCode) {}
    int32_t ErrorCode() const noexcept { return FErrorCode; }

private:
    int32_t FErrorCode;
};

// A thread that cannot be created or given its priority.
class EThread : public Exception {
public:
    using Exception::Exception;
};
