#include "app/Console.h"

#include <conio.h>
#include <cstdio>
#include <io.h>
#include <windows.h>

namespace
{

// _isatty is no help here: it is true for NUL too, and _getch reads the console whatever
// standard input is.
bool InputIsConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

} // namespace

void MakeOutputUnbuffered()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
}

void WaitForKey()
{
    if (InputIsConsole())
    {
        _getch();
        return;
    }
    char key = 0;
    _read(0, &key, 1);
}
