#include "app/Console.h"

#include <conio.h>
#include <cstdio>
#include <io.h>
#include <windows.h>

namespace
{

// _isatty is no help here: it is true for NUL too, and _getch reads the console whatever
// standard input is.
bool IsConsole(DWORD stream)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

} // namespace

// Windows raises no signal for a closed pipe: the failed write only returns an error.
void KeepRunningWithoutConsole() {}

void MakeOutputUnbuffered()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
}

void WaitForKey()
{
    if (IsConsole(STD_INPUT_HANDLE))
    {
        // An arrow or function key comes as two codes: the second must not reach the shell.
        int key = _getch();
        if (key == 0 || key == 0xE0)
        {
            _getch();
        }
    }
    else
    {
        char key = 0;
        _read(0, &key, 1);
    }
    if (IsConsole(STD_OUTPUT_HANDLE))
    {
        printf("\n");
    }
}
