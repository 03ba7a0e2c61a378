#include "app/Console.h"

#include "base/ConsoleOut.h"

#include <conio.h>
#include <cstdio>
#include <cstring>
#include <io.h>
#include <windows.h>

#if !defined(ENABLE_VIRTUAL_TERMINAL_PROCESSING)
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

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
        ConsoleText("\n");
    }
}

namespace
{

// Virtual-terminal sequences where the console takes them; the console API elsewhere.
bool Sequences = false;
SHORT FirstRow = 0;

WORD ColourAttributes(const char* colour, WORD normal)
{
    const WORD background = normal & 0xF0;
    return strcmp(colour, "32") == 0 ? (background | FOREGROUND_GREEN | FOREGROUND_INTENSITY)
                                     : (background | FOREGROUND_RED | FOREGROUND_INTENSITY);
}

void DrawWithTheConsoleApi(const CScreenLine* lines, int count, bool again)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    GetConsoleScreenBufferInfo(out, &info);
    if (again)
    {
        SetConsoleCursorPosition(out, {0, FirstRow});
    }
    const int width = info.dwSize.X;
    for (int i = 0; i < count; ++i)
    {
        const CScreenLine& line = lines[i];
        const char* colour = line.VerdictLength > 0 ? VerdictColour(line.Verdict) : nullptr;
        ConsoleText("%.*s", colour != nullptr ? line.VerdictAt : ScreenLineCapacity, line.Text);
        if (colour != nullptr)
        {
            SetConsoleTextAttribute(out, ColourAttributes(colour, info.wAttributes));
            ConsoleText("%.*s", line.VerdictLength, line.Text + line.VerdictAt);
            SetConsoleTextAttribute(out, info.wAttributes);
            ConsoleText("%s", line.Text + line.VerdictAt + line.VerdictLength);
        }
        // Spaces over what a longer line left, then the next line.
        const int written = static_cast<int>(strlen(line.Text));
        ConsoleText("%*s\n", width - 1 > written ? width - 1 - written : 0, "");
    }
    GetConsoleScreenBufferInfo(out, &info);
    FirstRow = static_cast<SHORT>(info.dwCursorPosition.Y - count);
}

} // namespace

bool ScreenIsTerminal(int& width)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    DWORD mode = 0;
    if (!IsConsole(STD_OUTPUT_HANDLE) || !GetConsoleScreenBufferInfo(out, &info))
    {
        width = 0;
        return false;
    }
    width = info.srWindow.Right - info.srWindow.Left + 1;
    Sequences = GetConsoleMode(out, &mode) &&
                SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return true;
}

void DrawScreen(const CScreenLine* lines, int count, bool again)
{
    if (!Sequences)
    {
        DrawWithTheConsoleApi(lines, count, again);
        return;
    }
    DrawWithSequences(lines, count, again);
}
