#include "base/StandardStreams.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace
{

struct CStandardStream
{
    FILE* Stream;
    int Fd;
    DWORD Which;
    const char* Mode;
};

bool HasHandle(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

// Without a console handle the C runtime gives the stream no descriptor (-2): it is put on
// NUL, and its descriptor onto the standard number, which also sets the standard handle.
void KeepStandardStreamsOpen()
{
    const CStandardStream streams[] = {{stdin, 0, STD_INPUT_HANDLE, "r"},
                                       {stdout, 1, STD_OUTPUT_HANDLE, "w"},
                                       {stderr, 2, STD_ERROR_HANDLE, "w"}};
    for (const CStandardStream& standard : streams)
    {
        if (_fileno(standard.Stream) >= 0 && HasHandle(standard.Which))
        {
            continue;
        }
        FILE* reopened = freopen("NUL", standard.Mode, standard.Stream);
        if (reopened != nullptr && _fileno(reopened) != standard.Fd)
        {
            _dup2(_fileno(reopened), standard.Fd);
        }
    }
}
