#include "CliProcess.h"

#include <chrono>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

std::string ActionLogProgram()
{
    return ACTIONLOG_PATH;
}

TCliProcess::TCliProcess(const std::vector<std::string>& Args, const std::filesystem::path& WorkDir,
                         bool StderrTerminal)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (StderrTerminal) {
        if (::openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
        ::fcntl(err[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else if (::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> args = {ActionLogProgram()};
    args.insert(args.end(), Args.begin(), Args.end());
    const std::string dir = WorkDir.string();
    FPid = ::fork();
    if (FPid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        // The file's encoding must not depend on the environment the tests run in.
        ::setenv("LC_ALL", "C.UTF-8", 1);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    FOut = out[0];
    FErr = err[0];
}

TCliProcess::~TCliProcess()
{
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) ::close(FOut);
    if (FErr >= 0) ::close(FErr);
}

bool TCliProcess::Collect(int TimeoutMs)
{
    pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
    int open = 0;
    for (pollfd& p : fds)
        if (p.fd >= 0) ++open;
    if (open == 0) return false;
    if (::poll(fds, 2, TimeoutMs) <= 0) return true;
    std::string* sinks[2] = {&FResult.Out, &FResult.Err};
    int* ends[2] = {&FOut, &FErr};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            sinks[i]->append(buffer, static_cast<size_t>(n));
        } else {
            // The end, or EIO once the last holder of a pseudo-terminal closed it.
            ::close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return true;
}

bool TCliProcess::WaitForErr(const std::string& Text, int TimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (FResult.Err.find(Text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!Collect(50)) return false;
    }
    return true;
}

void TCliProcess::Signal(int Signal)
{
    ::kill(FPid, Signal);
}

TCliResult TCliProcess::Finish(int TimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Collect(50)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(FPid, SIGKILL);
            FResult.Err += "\n[killed after the time-out]";
            break;
        }
    }
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    FResult.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return FResult;
}

TCliResult RunCli(const std::vector<std::string>& Args, const std::filesystem::path& WorkDir)
{
    return TCliProcess(Args, WorkDir).Finish();
}
