#include "app/Spawn.h"

#include "base/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <windows.h>

namespace
{

bool Failed()
{
    errno = ErrnoOfWindowsError(GetLastError());
    return false;
}

HANDLE AsHandle(intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

// Every worker belongs to it: when the parent ends, however it ends, the system closes the
// job's last handle and ends them all.
HANDLE WorkersJob()
{
    static HANDLE job = nullptr;
    if (job == nullptr)
    {
        job = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job != nullptr)
        {
            SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        }
    }
    return job;
}

// One argument as the C runtime splits a command line: in quotes, a quote escaped with a
// backslash, and the backslashes before a quote or the end doubled.
void AppendQuoted(char* line, size_t size, size_t& used, const char* argument)
{
    auto put = [&](char c)
    {
        if (used + 1 < size)
        {
            line[used++] = c;
        }
    };
    put('"');
    for (const char* c = argument;; ++c)
    {
        size_t slashes = 0;
        for (; *c == '\\'; ++c)
        {
            ++slashes;
        }
        const bool beforeQuote = *c == '"' || *c == '\0';
        for (size_t i = 0; i < (beforeQuote ? 2 * slashes : slashes); ++i)
        {
            put('\\');
        }
        if (*c == '\0')
        {
            break;
        }
        if (*c == '"')
        {
            put('\\');
        }
        put(*c);
    }
    put('"');
    put(' ');
    line[used] = '\0';
}

bool MakePipe(HANDLE& read, HANDLE& write, bool childReads)
{
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherited, 0))
    {
        return Failed();
    }
    // The parent's end stays its own.
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

} // namespace

bool SpawnChild(CChild& child, char* const* argv, const char* errorPath)
{
    static char line[32768];
    size_t used = 0;
    for (char* const* argument = argv; *argument != nullptr; ++argument)
    {
        AppendQuoted(line, sizeof line, used, *argument);
    }
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    if (!MakePipe(inRead, inWrite, true))
    {
        return false;
    }
    if (!MakePipe(outRead, outWrite, false))
    {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        return false;
    }
    HANDLE error = CreateFileA(errorPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = error;
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job: it must never run outside it.
    const bool started = error != INVALID_HANDLE_VALUE &&
                         CreateProcessA(argv[0], line, nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                        nullptr, nullptr, &startup, &process);
    const DWORD why = GetLastError();
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (error != INVALID_HANDLE_VALUE)
    {
        CloseHandle(error);
    }
    if (!started)
    {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        errno = ErrnoOfWindowsError(why);
        return false;
    }
    AssignProcessToJobObject(WorkersJob(), process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    child.Process = reinterpret_cast<intptr_t>(process.hProcess);
    child.Input = reinterpret_cast<intptr_t>(inWrite);
    child.Output = reinterpret_cast<intptr_t>(outRead);
    return true;
}

long ReadChild(const CChild& child, char* buffer, size_t size)
{
    DWORD count = 0;
    if (!ReadFile(AsHandle(child.Output), buffer, static_cast<DWORD>(size), &count, nullptr))
    {
        // A pipe whose writer has gone is its end.
        if (GetLastError() == ERROR_BROKEN_PIPE)
        {
            return 0;
        }
        Failed();
        return -1;
    }
    return static_cast<long>(count);
}

bool WriteChild(const CChild& child, const char* text, size_t length)
{
    DWORD written = 0;
    return WriteFile(AsHandle(child.Input), text, static_cast<DWORD>(length), &written, nullptr) &&
           written == length;
}

void CloseChildInput(CChild& child)
{
    if (child.Input != -1)
    {
        CloseHandle(AsHandle(child.Input));
        child.Input = -1;
    }
}

void CloseChildOutput(CChild& child)
{
    if (child.Output != -1)
    {
        CloseHandle(AsHandle(child.Output));
        child.Output = -1;
    }
}

bool ReapChild(CChild& child, int& exitCode, int& signalNumber)
{
    HANDLE process = AsHandle(child.Process);
    DWORD code = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &code))
    {
        return Failed();
    }
    CloseHandle(process);
    child.Process = -1;
    exitCode = static_cast<int>(code);
    signalNumber = 0;
    return true;
}

bool OwnProgramPath(char* path, size_t size)
{
    const DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(size));
    return (length > 0 && length < size) || Failed();
}

bool MakeLogFolder(char* path, size_t size)
{
    char temporary[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temporary, temporary);
    if (length == 0 || length >= sizeof temporary)
    {
        return Failed();
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt)
    {
        snprintf(path, size, "%sorbelt-dl.%lu.%u", temporary, GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(path, nullptr))
        {
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
        {
            return Failed();
        }
    }
    return Failed();
}

long ReadParentInput(char* buffer, size_t size)
{
    DWORD count = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &count,
                  nullptr))
    {
        return 0;
    }
    return static_cast<long>(count);
}
