#include "tests/support/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

double MonotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

static void SleepSeconds(double seconds)
{
    timespec pause{};
    pause.tv_sec = static_cast<time_t>(seconds);
    pause.tv_nsec = static_cast<long>((seconds - static_cast<double>(pause.tv_sec)) * 1e9);
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR)
    {
    }
}

std::string CProcessResult::Describe() const
{
    std::string text;
    if (!Started)
    {
        text = "did not start: " + StartError;
    }
    else if (TimedOut)
    {
        text = "timed out and was killed";
    }
    else if (Exited)
    {
        text = "exited with " + std::to_string(ExitCode);
    }
    else
    {
        text = "killed by signal " + std::to_string(Signal);
    }
    return text + "; stderr:\n" + Err;
}

// The programs a test starts keep their state (an update's journals) in a folder of the test's
// own, never in the user's, unless the test names one.
static const std::string& TestStateFolder()
{
    struct CFolder
    {
        std::string Path =
            (std::filesystem::temp_directory_path() / ("orbelt-state-" + std::to_string(getpid())))
                .string();
        ~CFolder() { std::filesystem::remove_all(Path); }
    };
    static const CFolder folder;
    return folder.Path;
}

static std::vector<std::string> MergeEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        merged.emplace_back(*entry);
    }
    std::vector<std::string> additions = {"XDG_STATE_HOME=" + TestStateFolder()};
    additions.insert(additions.end(), extra.begin(), extra.end());
    for (const std::string& addition : additions)
    {
        const std::string name = addition.substr(0, addition.find('=') + 1);
        merged.erase(std::remove_if(merged.begin(), merged.end(),
                                    [&name](const std::string& entry)
                                    { return entry.compare(0, name.size(), name) == 0; }),
                     merged.end());
        merged.push_back(addition);
    }
    return merged;
}

static std::vector<char*> PointerArray(std::vector<std::string>& strings)
{
    std::vector<char*> pointers(strings.size() + 1, nullptr);
    std::transform(strings.begin(), strings.end(), pointers.begin(),
                   [](std::string& text) { return text.data(); });
    return pointers;
}

// Forks and execs. stdinFd -1 leaves descriptor 0 closed. In the child only async-signal-safe
// calls are made; everything is prepared before the fork.
static pid_t Spawn(const std::vector<std::string>& argv, const CProcessOptions& options,
                   int stdinFd, int outFd, int errFd, std::string& error)
{
    if (argv.empty())
    {
        error = "empty argv";
        return -1;
    }
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = MergeEnvironment(options.Environment);
    std::vector<char*> argumentPointers = PointerArray(arguments);
    std::vector<char*> environmentPointers = PointerArray(environment);
    const char* directory =
        options.WorkingDirectory.empty() ? nullptr : options.WorkingDirectory.c_str();

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
    {
        error = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }
    const pid_t child = fork();
    if (child < 0)
    {
        error = std::string("fork: ") + std::strerror(errno);
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (child == 0)
    {
        setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        if (stdinFd >= 0)
        {
            dup2(stdinFd, 0);
        }
        else
        {
            close(0);
        }
        dup2(outFd, 1);
        dup2(errFd, 2);
        if (options.CloseOutput)
        {
            close(1);
            close(2);
        }
        // The test's own descriptors (a pseudo-terminal it has open, above all) must not live
        // on in the child.
        syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
        int failure = 0;
        if (directory != nullptr && chdir(directory) != 0)
        {
            failure = errno;
        }
        else
        {
            execve(argumentPointers[0], argumentPointers.data(), environmentPointers.data());
            failure = errno;
        }
        ssize_t ignored = write(report[1], &failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }
    setpgid(child, child);
    close(report[1]);
    int failure = 0;
    ssize_t got = 0;
    do
    {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == sizeof failure)
    {
        error = argv[0] + ": " + std::strerror(failure);
        waitpid(child, nullptr, 0);
        return -1;
    }
    return child;
}

static void FillStatus(CProcessResult& result, int status, const rusage& usage)
{
    result.Exited = WIFEXITED(status);
    result.ExitCode = result.Exited ? WEXITSTATUS(status) : -1;
    result.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    const auto seconds = [](const timeval& time)
    { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6; };
    result.CpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Reads what is there without waiting. Returns false once the pipe has reached end of file.
static bool DrainPipe(int fd, std::string& into)
{
    char buffer[65536];
    for (;;)
    {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0)
        {
            into.append(buffer, static_cast<size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        return count < 0 && errno == EAGAIN;
    }
}

static int OpenDevNull()
{
    return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

CProcessResult RunProcess(const std::vector<std::string>& argv, const CProcessOptions& options)
{
    CProcessResult result;
    // A child that exits before taking all of its stdin must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int out[2];
    int err[2];
    int in[2] = {-1, -1};
    const bool text = options.Stdin == EStdin::Text || options.Stdin == EStdin::Pipe;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
        (text && pipe2(in, O_CLOEXEC) != 0))
    {
        result.StartError = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    int childStdin = -1;
    if (options.Stdin == EStdin::DevNull)
    {
        childStdin = OpenDevNull();
    }
    else if (text)
    {
        childStdin = in[0];
    }
    const double start = MonotonicSeconds();
    const pid_t child = Spawn(argv, options, childStdin, out[1], err[1], result.StartError);
    close(out[1]);
    close(err[1]);
    if (childStdin >= 0)
    {
        close(childStdin);
    }
    int outFd = out[0];
    int errFd = err[0];
    int inFd = in[1];
    if (child < 0)
    {
        close(outFd);
        close(errFd);
        if (inFd >= 0)
        {
            close(inFd);
        }
        return result;
    }
    result.Started = true;
    fcntl(outFd, F_SETFL, O_NONBLOCK);
    fcntl(errFd, F_SETFL, O_NONBLOCK);
    size_t stdinWritten = 0;
    if (inFd >= 0)
    {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
        if (options.StdinText.empty())
        {
            close(inFd);
            inFd = -1;
        }
    }

    const double deadline = start + options.TimeoutSeconds;
    int status = 0;
    rusage usage{};
    bool reaped = false;
    while (!reaped)
    {
        const double now = MonotonicSeconds();
        if (now >= deadline)
        {
            result.TimedOut = true;
            kill(-child, SIGKILL);
            kill(child, SIGKILL);
            reaped = wait4(child, &status, 0, &usage) == child;
            break;
        }
        pollfd fds[3];
        nfds_t count = 0;
        for (int fd : {outFd, errFd})
        {
            if (fd >= 0)
            {
                fds[count++] = pollfd{fd, POLLIN, 0};
            }
        }
        if (inFd >= 0)
        {
            fds[count++] = pollfd{inFd, POLLOUT, 0};
        }
        // Once the pipes are closed (or while a grandchild keeps them open) the child is
        // looked at in short steps.
        const double step = std::min(deadline - now, count == 0 ? 0.001 : 0.02);
        poll(fds, count, std::max(1, static_cast<int>(step * 1000)));
        if (inFd >= 0)
        {
            const ssize_t written = write(inFd, options.StdinText.data() + stdinWritten,
                                          options.StdinText.size() - stdinWritten);
            if (written > 0)
            {
                stdinWritten += static_cast<size_t>(written);
            }
            if (stdinWritten == options.StdinText.size() ||
                (written < 0 && errno != EAGAIN && errno != EINTR))
            {
                close(inFd);
                inFd = -1;
            }
        }
        if (outFd >= 0 && !DrainPipe(outFd, result.Out))
        {
            close(outFd);
            outFd = -1;
        }
        if (errFd >= 0 && !DrainPipe(errFd, result.Err))
        {
            close(errFd);
            errFd = -1;
        }
        reaped = wait4(child, &status, WNOHANG, &usage) == child;
    }
    result.WallSeconds = MonotonicSeconds() - start;
    // Whatever the child wrote before it ended is in the pipes by now.
    for (int* fd : {&outFd, &errFd})
    {
        if (*fd >= 0)
        {
            DrainPipe(*fd, fd == &outFd ? result.Out : result.Err);
            close(*fd);
        }
    }
    if (inFd >= 0)
    {
        close(inFd);
    }
    if (reaped)
    {
        FillStatus(result, status, usage);
    }
    return result;
}

static std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
    {
        return text;
    }
    char buffer[65536];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    {
        text.append(buffer, count);
    }
    std::fclose(file);
    return text;
}

static int MakeOutputFile(std::string& path)
{
    const char* directory = std::getenv("TMPDIR");
    std::string pattern =
        std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
        "/orbelt-output-XXXXXX";
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0)
    {
        path = pattern;
    }
    return fd;
}

CBackgroundProcess::~CBackgroundProcess()
{
    if (Child > 0 && !Ended)
    {
        kill(-Child, SIGKILL);
        kill(Child, SIGKILL);
        Reap(true);
    }
    for (const std::string& path : {OutPath, ErrPath})
    {
        if (!path.empty())
        {
            unlink(path.c_str());
        }
    }
    CloseStdin();
}

bool CBackgroundProcess::Start(const std::vector<std::string>& argv, const CProcessOptions& options)
{
    if (Child > 0)
    {
        Outcome.StartError = "already started";
        return false;
    }
    const int outFd = MakeOutputFile(OutPath);
    const int errFd = MakeOutputFile(ErrPath);
    int inFd = -1;
    if (options.Stdin == EStdin::DevNull || options.Stdin == EStdin::Text)
    {
        inFd = OpenDevNull();
    }
    if (options.Stdin == EStdin::Text)
    {
        // A background program is fed its text from a file, so nothing has to wait for it.
        std::string inPath;
        const int textFd = MakeOutputFile(inPath);
        if (textFd >= 0)
        {
            const bool written =
                write(textFd, options.StdinText.data(), options.StdinText.size()) ==
                static_cast<ssize_t>(options.StdinText.size());
            lseek(textFd, 0, SEEK_SET);
            unlink(inPath.c_str());
            if (written)
            {
                close(inFd);
                inFd = textFd;
            }
            else
            {
                close(textFd);
            }
        }
    }
    if (options.Stdin == EStdin::Pipe)
    {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) == 0)
        {
            // A process that has ended must not kill the test when it is written to.
            signal(SIGPIPE, SIG_IGN);
            inFd = pipeFds[0];
            StdinFd = pipeFds[1];
        }
    }
    StartTime = MonotonicSeconds();
    if (outFd >= 0 && errFd >= 0)
    {
        Child = Spawn(argv, options, inFd, outFd, errFd, Outcome.StartError);
    }
    else
    {
        Outcome.StartError = std::string("cannot create output files: ") + std::strerror(errno);
    }
    for (int fd : {outFd, errFd, inFd})
    {
        if (fd >= 0)
        {
            close(fd);
        }
    }
    Outcome.Started = Child > 0;
    if (!Outcome.Started)
    {
        CloseStdin();
    }
    return Outcome.Started;
}

bool CBackgroundProcess::Reap(bool block)
{
    if (Child <= 0 || Ended)
    {
        return Ended;
    }
    int status = 0;
    rusage usage{};
    pid_t got = 0;
    do
    {
        got = wait4(Child, &status, block ? 0 : WNOHANG, &usage);
    } while (got < 0 && errno == EINTR);
    if (got != Child)
    {
        return false;
    }
    Ended = true;
    Outcome.WallSeconds = MonotonicSeconds() - StartTime;
    FillStatus(Outcome, status, usage);
    return true;
}

bool CBackgroundProcess::Running()
{
    return Child > 0 && !Reap(false);
}

bool CBackgroundProcess::SendSignal(int signal)
{
    return Running() && kill(Child, signal) == 0;
}

bool CBackgroundProcess::WriteStdin(const std::string& text)
{
    size_t done = 0;
    while (StdinFd >= 0 && done < text.size())
    {
        const ssize_t written = write(StdinFd, text.data() + done, text.size() - done);
        if (written > 0)
        {
            done += static_cast<size_t>(written);
        }
        else if (written < 0 && errno != EINTR)
        {
            return false;
        }
    }
    return StdinFd >= 0;
}

void CBackgroundProcess::CloseStdin()
{
    if (StdinFd >= 0)
    {
        close(StdinFd);
        StdinFd = -1;
    }
}

bool CBackgroundProcess::Wait(double timeoutSeconds)
{
    const double deadline = MonotonicSeconds() + timeoutSeconds;
    while (Running())
    {
        if (MonotonicSeconds() >= deadline)
        {
            return false;
        }
        SleepSeconds(0.002);
    }
    return Child > 0;
}

bool CBackgroundProcess::Stop(double timeoutSeconds)
{
    if (!Running())
    {
        return Child > 0;
    }
    kill(Child, SIGTERM);
    if (Wait(timeoutSeconds))
    {
        return true;
    }
    Outcome.TimedOut = true;
    kill(-Child, SIGKILL);
    kill(Child, SIGKILL);
    Reap(true);
    return false;
}

std::string CBackgroundProcess::Stdout() const
{
    return OutPath.empty() ? std::string() : ReadWholeFile(OutPath);
}

std::string CBackgroundProcess::Stderr() const
{
    return ErrPath.empty() ? std::string() : ReadWholeFile(ErrPath);
}

bool CBackgroundProcess::ReadFirstLine(std::string& line, double timeoutSeconds)
{
    const double deadline = MonotonicSeconds() + timeoutSeconds;
    for (;;)
    {
        const bool running = Running();
        const std::string text = Stdout();
        const size_t end = text.find('\n');
        if (end != std::string::npos)
        {
            line = text.substr(0, end);
            return true;
        }
        if (!running || MonotonicSeconds() >= deadline)
        {
            return false;
        }
        SleepSeconds(0.002);
    }
}

const CProcessResult& CBackgroundProcess::Result()
{
    Running();
    Outcome.Out = Stdout();
    Outcome.Err = Stderr();
    return Outcome;
}

bool WaitUntil(const std::function<bool()>& condition, double timeoutSeconds)
{
    const double deadline = MonotonicSeconds() + timeoutSeconds;
    while (!condition())
    {
        if (MonotonicSeconds() >= deadline)
        {
            return false;
        }
        SleepSeconds(0.002);
    }
    return true;
}
