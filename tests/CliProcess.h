#pragma once
// The actionlog program as a shell runs it: a child process in a working
// directory of its own, its standard output and error captured, its exit
// status as a shell sees it (128 + the signal when a signal ended it).

#include <filesystem>
#include <string>
#include <vector>

struct TCliResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};

class TCliProcess {
public:
    // StderrTerminal: the standard error is a pseudo-terminal, as in a shell.
    TCliProcess(const std::vector<std::string>& Args, const std::filesystem::path& WorkDir,
                bool StderrTerminal = false);
    ~TCliProcess();
    TCliProcess(const TCliProcess&) = delete;
    TCliProcess& operator=(const TCliProcess&) = delete;

    // Collects output until the standard error holds Text; false on time-out
    // or when the program ended first.
    bool WaitForErr(const std::string& Text, int TimeoutMs = 20000);
    void Signal(int Signal);
    // Collects everything until the program ends; kills it after the time-out.
    TCliResult Finish(int TimeoutMs = 60000);

private:
    // Reads what is there, waiting up to TimeoutMs; false when both outputs are at their end.
    bool Collect(int TimeoutMs);

    int FPid = -1;
    int FOut = -1;
    int FErr = -1;
    TCliResult FResult;
};

// Runs actionlog to its end.
TCliResult RunCli(const std::vector<std::string>& Args, const std::filesystem::path& WorkDir);

std::string ActionLogProgram();
