#include "app/Spawn.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

void CloseBoth(int (&pipe)[2])
{
    for (int& fd : pipe)
    {
        if (fd >= 0)
        {
            close(fd);
            fd = -1;
        }
    }
}

// The child's ends go to its descriptors 0 and 1, the log to 2; every other descriptor of ours
// is close-on-exec.
bool Start(pid_t& pid, char* const* argv, int input, int output, const char* errorPath)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
    {
        return false;
    }
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath,
                                     O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    errno = error;
    return error == 0;
}

} // namespace

bool SpawnChild(CChild& child, char* const* argv, const char* errorPath)
{
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    pid_t pid = -1;
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
        !Start(pid, argv, input[0], output[1], errorPath))
    {
        const int error = errno;
        CloseBoth(input);
        CloseBoth(output);
        errno = error;
        return false;
    }
    close(input[0]);
    close(output[1]);
    child.Process = pid;
    child.Input = input[1];
    child.Output = output[0];
    return true;
}

long ReadChild(const CChild& child, char* buffer, size_t size)
{
    ssize_t count = 0;
    while ((count = read(static_cast<int>(child.Output), buffer, size)) < 0 && errno == EINTR)
    {
    }
    return static_cast<long>(count);
}

bool WriteChild(const CChild& child, const char* text, size_t length)
{
    while (length > 0)
    {
        const ssize_t written = write(static_cast<int>(child.Input), text, length);
        if (written < 0 && errno == EINTR)
        {
            continue;
        }
        if (written <= 0)
        {
            return false;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

void CloseChildInput(CChild& child)
{
    if (child.Input >= 0)
    {
        close(static_cast<int>(child.Input));
        child.Input = -1;
    }
}

void CloseChildOutput(CChild& child)
{
    if (child.Output >= 0)
    {
        close(static_cast<int>(child.Output));
        child.Output = -1;
    }
}

bool ReapChild(CChild& child, int& exitCode, int& signalNumber)
{
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(static_cast<pid_t>(child.Process), &status, 0)) < 0 && errno == EINTR)
    {
    }
    if (done < 0)
    {
        return false;
    }
    child.Process = -1;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    signalNumber = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return true;
}

bool OwnProgramPath(char* path, size_t size)
{
    const ssize_t length = readlink("/proc/self/exe", path, size - 1);
    if (length <= 0)
    {
        return false;
    }
    path[length] = '\0';
    return true;
}

bool MakeLogFolder(char* path, size_t size)
{
    const char* temporary = getenv("TMPDIR");
    snprintf(path, size, "%s/orbelt-dl.XXXXXX",
             temporary != nullptr && temporary[0] != '\0' ? temporary : "/tmp");
    return mkdtemp(path) != nullptr;
}

long ReadParentInput(char* buffer, size_t size)
{
    ssize_t count = 0;
    while ((count = read(STDIN_FILENO, buffer, size)) < 0 && errno == EINTR)
    {
    }
    return count < 0 ? 0 : static_cast<long>(count);
}
