#include "base/ConsoleOut.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

bool Json = false;
bool LineOpen = false;
bool OwnLines = false;
char EventKeys[256] = "";
// An event holds a run record: room for paths of any length a file system allows.
char Event[140000];

} // namespace

void UseJsonEvents(bool json)
{
    Json = json;
}

bool JsonEvents()
{
    return Json;
}

void ConsoleText(const char* format, ...)
{
    char text[4096];
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length <= 0)
    {
        return;
    }
    const size_t size = static_cast<size_t>(length) < sizeof text ? length : sizeof text - 1;
    fwrite(text, 1, size, Json ? stderr : stdout);
    LineOpen = text[size - 1] != '\n';
}

bool ConsoleLineOpen()
{
    return LineOpen;
}

void KeepDiagnosticsOnLinesOfTheirOwn(bool keep)
{
    OwnLines = keep;
}

// On standard error, so that the console text stays as it is, byte for byte.
void EndLineBeforeDiagnostic()
{
    if (LineOpen && (Json || OwnLines))
    {
        fputc('\n', stderr);
        LineOpen = false;
    }
}

void SetEventKeys(const char* keys)
{
    snprintf(EventKeys, sizeof EventKeys, "%s", keys);
}

namespace
{

void WriteEvent(const char* kind, const char* keys, const char* members, va_list arguments)
{
    int length = snprintf(Event, sizeof Event, "{\"event\":\"%s\"%s%s", kind,
                          keys[0] != '\0' ? "," : "", keys);
    if (members[0] != '\0' && length > 0 && static_cast<size_t>(length) + 1 < sizeof Event)
    {
        Event[length++] = ',';
        length += vsnprintf(Event + length, sizeof Event - static_cast<size_t>(length), members,
                            arguments);
    }
    if (length <= 0 || static_cast<size_t>(length) + 2 >= sizeof Event)
    {
        return;
    }
    // The events are lines for another program: each one whole, in one write, at once.
    memcpy(Event + length, "}\n", 3);
    fwrite(Event, 1, static_cast<size_t>(length) + 2, stdout);
    fflush(stdout);
}

} // namespace

void ConsoleEvent(const char* kind, const char* members, ...)
{
    if (Json)
    {
        va_list arguments;
        va_start(arguments, members);
        WriteEvent(kind, EventKeys, members, arguments);
        va_end(arguments);
    }
}

void ConsoleEventLine(const char* line)
{
    if (Json)
    {
        fprintf(stdout, "%s\n", line);
        fflush(stdout);
    }
}

void ConsoleRecordEvent(const char* kind, const char* members, ...)
{
    if (Json)
    {
        va_list arguments;
        va_start(arguments, members);
        WriteEvent(kind, "", members, arguments);
        va_end(arguments);
    }
}
