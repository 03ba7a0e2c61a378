#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

enum class EStdin
{
    DevNull, // reads end of file at once
    Closed,  // descriptor 0 is not open at all
    Text,    // CProcessOptions::StdinText, then end of file
    // CBackgroundProcess: a pipe the test writes to with WriteStdin until CloseStdin.
    // RunProcess takes it as Text.
    Pipe,
};

class CProcessOptions
{
  public:
    // "NAME=value" entries added to (or replacing in) the test's own environment.
    std::vector<std::string> Environment;
    EStdin Stdin = EStdin::DevNull;
    std::string StdinText;
    // Descriptors 1 and 2 are not open at all (RunProcess then captures nothing).
    bool CloseOutput = false;
    // The child (and its process group) is killed with SIGKILL when it runs longer.
    double TimeoutSeconds = 60;
    // Empty: the test's own working directory.
    std::string WorkingDirectory;
};

class CProcessResult
{
  public:
    bool Started = false; // false: fork or exec failed, see StartError
    std::string StartError;
    bool TimedOut = false;
    bool Exited = false; // ended through exit(); ExitCode is valid
    int ExitCode = -1;
    int Signal = 0; // the signal that ended it, when it did not exit
    std::string Out;
    std::string Err;
    double WallSeconds = 0;
    double CpuSeconds = 0; // user + system time of the child and its waited-for children

    // Exited on its own with this code, not killed and not timed out.
    bool ExitedWith(int code) const { return Started && !TimedOut && Exited && ExitCode == code; }
    // One line for failure messages: how it ended plus its stderr.
    std::string Describe() const;
};

// Runs argv[0] (a path; PATH is not searched) with the given arguments until it ends or the
// timeout expires, capturing stdout and stderr exactly.
CProcessResult RunProcess(const std::vector<std::string>& argv,
                          const CProcessOptions& options = CProcessOptions());

// A program left running while the test goes on. Its stdout and stderr go to files, so a
// chatty program can never block on a full pipe; they can be read at any time.
class CBackgroundProcess
{
  public:
    CBackgroundProcess() = default;
    CBackgroundProcess(const CBackgroundProcess&) = delete;
    CBackgroundProcess& operator=(const CBackgroundProcess&) = delete;
    // Kills a process still running (SIGKILL) and removes the output files.
    ~CBackgroundProcess();

    // Options.TimeoutSeconds does not apply here; Stop and Wait take their own.
    bool Start(const std::vector<std::string>& argv,
               const CProcessOptions& options = CProcessOptions());
    pid_t Pid() const { return Child; }
    // True until the process has ended and been reaped.
    bool Running();
    bool SendSignal(int signal);
    // With EStdin::Pipe: hands text to the process's standard input. False when it cannot.
    bool WriteStdin(const std::string& text);
    // The process then reads end of file.
    void CloseStdin();
    // Waits up to timeoutSeconds for the process to end by itself. False if it is still running.
    bool Wait(double timeoutSeconds);
    // SIGTERM, then waits; after timeoutSeconds SIGKILL. True when it ended within the time.
    bool Stop(double timeoutSeconds = 10);
    // The output so far; once ended, all of it.
    std::string Stdout() const;
    std::string Stderr() const;
    // Waits until stdout holds a complete first line and returns it without the line feed.
    // False when the process ends or the time runs out first.
    bool ReadFirstLine(std::string& line, double timeoutSeconds);
    // Exit status, output and times; complete once the process has ended.
    const CProcessResult& Result();

  private:
    bool Reap(bool block);

    pid_t Child = -1;
    bool Ended = false;
    double StartTime = 0;
    std::string OutPath;
    std::string ErrPath;
    int StdinFd = -1;
    CProcessResult Outcome;
};

double MonotonicSeconds();

// Asks condition every few milliseconds until it holds (true) or timeoutSeconds have passed.
bool WaitUntil(const std::function<bool()>& condition, double timeoutSeconds);
