#include "app/Gang.h"

#include "app/Console.h"
#include "app/GangWorkers.h"
#include "app/OptionNames.h"
#include "app/Outcome.h"
#include "app/RunRecord.h"
#include "app/SerialNumber.h"
#include "app/Settings.h"
#include "base/Clock.h"
#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Folders.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int GangPorts[MaxPortNumber];
int GangPortCount = 0;
const char* GangLogFolder = nullptr;

void ResetGangSettings()
{
    GangPortCount = 0;
    GangLogFolder = nullptr;
}

namespace
{

// Plain decimal digits, from 1 to 250.
bool PortOf(const char* from, const char* to, int& port)
{
    long value = 0;
    for (const char* c = from; c < to && value <= MaxPortNumber; ++c)
    {
        if (!isdigit(static_cast<unsigned char>(*c)))
        {
            return false;
        }
        value = value * 10 + (*c - '0');
    }
    port = static_cast<int>(value);
    return from < to && value >= MinPortNumber && value <= MaxPortNumber;
}

} // namespace

bool ParsePortList(const char* text, int (&ports)[MaxPortNumber], int& count, char (&why)[160])
{
    bool taken[MaxPortNumber + 1] = {};
    count = 0;
    for (const char* item = text;; ++item)
    {
        const char* end = item + strcspn(item, ",");
        const char* dash =
            static_cast<const char*>(memchr(item, '-', static_cast<size_t>(end - item)));
        int first = 0;
        int last = 0;
        if (!PortOf(item, dash != nullptr ? dash : end, first) ||
            !PortOf(dash != nullptr ? dash + 1 : item, end, last))
        {
            snprintf(why, sizeof why,
                     "invalid port list '%s': give port numbers from 1 to 250 and ranges, such as "
                     "1-4,7",
                     text);
            return false;
        }
        if (last < first)
        {
            snprintf(why, sizeof why, "invalid port list '%s': the range %d-%d runs backwards",
                     text, first, last);
            return false;
        }
        for (int port = first; port <= last; ++port)
        {
            if (taken[port])
            {
                snprintf(why, sizeof why, "invalid port list '%s': COM%d comes twice", text, port);
                return false;
            }
            taken[port] = true;
        }
        if (*end == '\0')
        {
            break;
        }
        item = end;
    }
    for (int port = MinPortNumber; port <= MaxPortNumber; ++port)
    {
        if (taken[port])
        {
            ports[count++] = port;
        }
    }
    return true;
}

bool ApplyPorts(CArguments& walk, const char* name, const char* value)
{
    char why[160];
    if (value == nullptr || !ParsePortList(value, GangPorts, GangPortCount, why))
    {
        GangPortCount = 0;
        return value == nullptr ? RefuseArgument(walk, "%s needs a list of ports", name)
                                : RefuseArgument(walk, "%s", why);
    }
    return true;
}

bool ApplyLogDir(CArguments& walk, const char* name, const char* value)
{
    if (value == nullptr || value[0] == '\0')
    {
        return RefuseArgument(walk, "%s needs a folder", name);
    }
    GangLogFolder = value;
    return true;
}

bool CheckGang(const CArguments& walk)
{
    const char* other = walk.PortGiven                          ? OptionName(OptionPort)
                        : (walk.Jobs & JobBit(OptionRead)) != 0 ? OptionName(OptionRead)
                        : WorkerMode                            ? OptionName(OptionWorker)
                                                                : nullptr;
    if (GangPortCount > 0 && other != nullptr)
    {
        Diagnose("%s cannot be combined with %s", OptionName(OptionPorts), other);
        return false;
    }
    if (GangPortCount == 0 && GangLogFolder != nullptr)
    {
        Diagnose("%s needs %s", OptionName(OptionLogDir), OptionName(OptionPorts));
        return false;
    }
    return true;
}

namespace
{

// Draws of the screen at most this often; a worker's line wakes the loop sooner.
const int DrawPeriodMs = 100;

char LogFolder[FolderPathCapacity];
char Program[FolderPathCapacity];

// This program with the options that make a worker of port, then the arguments as given but
// those that are the parent's.
std::vector<std::string> WorkerArguments(int port, int argc, char** argv)
{
    std::vector<std::string> arguments = {Program, OptionName(OptionJson), OptionName(OptionWorker),
                                          OptionName(OptionPort), std::to_string(port)};
    const char* const parentOnly[] = {OptionName(OptionPorts), OptionName(OptionLogDir),
                                      OptionName(OptionJson)};
    bool ended = false;
    for (int i = 1; i < argc; ++i)
    {
        const int taken = ended ? 0 : OptionArguments(argv[i]);
        const bool value = taken == 2 && i + 1 < argc;
        const bool parents =
            taken > 0 && std::any_of(std::begin(parentOnly), std::end(parentOnly),
                                     [&](const char* name) { return strcmp(argv[i], name) == 0; });
        ended = ended || (taken == 0 && strcmp(argv[i], "--") == 0);
        if (!parents)
        {
            arguments.emplace_back(argv[i]);
            if (value)
            {
                arguments.emplace_back(argv[i + 1]);
            }
        }
        i += value ? 1 : 0;
    }
    return arguments;
}

bool PrepareLogs()
{
    const bool made = GangLogFolder != nullptr
                          ? MakeFolders(GangLogFolder) &&
                                snprintf(LogFolder, sizeof LogFolder, "%s", GangLogFolder) > 0
                          : MakeLogFolder(LogFolder, sizeof LogFolder);
    if (!made || !OwnProgramPath(Program, sizeof Program))
    {
        Diagnose("cannot make the folder for the ports' logs: %s", strerror(errno));
        return false;
    }
    return true;
}

// Each port's worker; one that cannot start is NG at once, and the rest run.
int StartWorkers(int argc, char** argv)
{
    int started = 0;
    PortCount = GangPortCount;
    for (int i = 0; i < PortCount; ++i)
    {
        CPort& port = Ports[i];
        port = CPort();
        port.Number = GangPorts[i];
        port.View.Port = port.Number;
        // Not "COM1.log": Windows takes COM1 to COM9 with any extension for the ports themselves.
        snprintf(port.LogPath, sizeof port.LogPath, "%s%cCOM%d-console.log", LogFolder,
                 PathSeparator(), port.Number);
        std::vector<std::string> arguments = WorkerArguments(port.Number, argc, argv);
        std::vector<char*> pointers(arguments.size() + 1, nullptr);
        std::transform(arguments.begin(), arguments.end(), pointers.begin(),
                       [](std::string& argument) { return &argument[0]; });
        if (StartWorker(i, pointers.data()))
        {
            ++started;
        }
        else
        {
            EndForWorker(port, LastDiagnostic());
        }
    }
    return started;
}

void Draw(bool again, int width, long long begin)
{
    static CPortView views[MaxPortNumber];
    static CScreenLine lines[MaxPortNumber + 1];
    CScreenTotals totals = {0, 0, static_cast<double>(ClockMilliseconds() - begin) / 3600000};
    for (int i = 0; i < PortCount; ++i)
    {
        views[i] = Ports[i].View;
        totals.Passed += Ports[i].View.Passed;
        totals.Failed += Ports[i].View.Failed;
    }
    DrawScreen(lines, ComposeScreen(views, PortCount, totals, width, lines), again);
}

// Until every worker has ended: their events read, the screen drawn, a stop passed on to them.
void AwaitWorkers(int running)
{
    int width = 0;
    const bool screen = !JsonEvents() && ScreenIsTerminal(width);
    PlainLines = !screen && !JsonEvents();
    const long long begin = ClockMilliseconds();
    bool drawn = false;
    bool changed = true;
    bool stopTold = false;
    long long due = 0;
    while (running > 0 || (screen && changed))
    {
        CWorkerLine line;
        if (running > 0 && NextWorkerLine(line, DrawPeriodMs))
        {
            CPort& port = Ports[line.Port];
            char why[128];
            if (line.End && !ReapWorker(port, why))
            {
                EndForWorker(port, why);
            }
            running -= line.End ? 1 : 0;
            changed = (line.End || ApplyEvent(port, line.Text)) || changed;
        }
        if (StopRequested() && !stopTold)
        {
            char stop[16];
            snprintf(stop, sizeof stop, "stop %d\n", StopSignal());
            TellWorkers(stop);
            stopTold = true;
        }
        if (screen && changed && (ClockMilliseconds() >= due || running == 0))
        {
            Draw(drawn, width, begin);
            drawn = true;
            changed = false;
            due = ClockMilliseconds() + DrawPeriodMs;
        }
    }
}

// One line a port, then the totals; true when every port passed.
bool Summarise()
{
    int passed = 0;
    int failed = 0;
    for (int i = 0; i < PortCount; ++i)
    {
        const CPort& port = Ports[i];
        passed += port.View.Passed;
        failed += port.View.Failed;
        char com[16];
        snprintf(com, sizeof com, "COM%d", port.Number);
        const bool ng = port.View.Failed > 0 || port.View.Last != VerdictOk;
        if (StationMode)
        {
            ConsoleText("%-8s%d %s flashed: %d OK, %d NG\n", com,
                        port.View.Passed + port.View.Failed,
                        port.View.Passed + port.View.Failed == 1 ? "board" : "boards",
                        port.View.Passed, port.View.Failed);
            continue;
        }
        ConsoleText("%-8s%-4s%6.1f s%s%s\n", com, ng ? "NG" : "OK", port.View.LastSeconds,
                    ng ? "  " : "", ng ? port.Reason : "");
    }
    const char* ports = PortCount == 1 ? "port" : "ports";
    if (StationMode)
    {
        ConsoleText("%d %s flashed on %d %s: %d OK, %d NG\n", passed + failed,
                    passed + failed == 1 ? "board" : "boards", PortCount, ports, passed, failed);
    }
    else
    {
        ConsoleText("%d %s: %d OK, %d NG\n", PortCount, ports, passed, failed);
    }
    return failed == 0 && (StationMode || passed == PortCount);
}

} // namespace

int RunGang(const CArguments& arguments, CBoardRun& setup, int argc, char** argv)
{
    PortNumber = 0;
    EnterStage("Arguments");
    const bool ready = AcceptArguments(arguments) && OpenRunRecord() &&
                       (!RunMode->LoadsImage || LoadNamedImage(arguments.FileName)) &&
                       CheckSerialNumbers() && PrepareLogs();
    if (!ready)
    {
        FinishRun(setup, false);
        return 1;
    }
    ConsoleText("Logs in %s\n", LogFolder);
    CatchStopRequests();
    AwaitWorkers(StartWorkers(argc, argv));
    ReleaseStopRequests();
    const bool passed = Summarise();
    if (StopRequested())
    {
        return 128 + StopSignal();
    }
    if (!StationMode)
    {
        PrintResultBanner(passed);
        PrintVerdict(setup, passed);
        if (!NoWait && !JsonEvents())
        {
            WaitForKey();
        }
    }
    return passed ? 0 : 1;
}
