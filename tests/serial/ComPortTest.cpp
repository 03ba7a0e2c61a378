// CComPort on Linux, against pseudo-terminals this test owns: the test holds the master side,
// the port opens the device side through ORBELT_COM<n>.
#include "serial/ComPort.h"

#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

int CountOpenDescriptors()
{
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (folder != nullptr && readdir(folder) != nullptr)
    {
        ++count;
    }
    closedir(folder);
    return count;
}

double ThreadCpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// True while the thread sleeps in the kernel (state S), as it does in a read's wait.
bool Sleeping(pid_t thread)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    size_t end = text.rfind(')');
    return end != std::string::npos && text.compare(end + 1, 2, " S") == 0;
}

class ComPortTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        Master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(Master, 0);
        ASSERT_EQ(grantpt(Master), 0);
        ASSERT_EQ(unlockpt(Master), 0);
        Device = ptsname(Master);
        setenv("ORBELT_COM7", Device.c_str(), 1);
        setenv("ORBELT_COM2", Device.c_str(), 1);
    }

    void TearDown() override
    {
        Port.Close();
        if (Master >= 0)
        {
            close(Master);
        }
        unsetenv("ORBELT_COM7");
        unsetenv("ORBELT_COM2");
    }

    void SendFromBoard(const std::string& bytes)
    {
        ASSERT_EQ(write(Master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int Master = -1;
    std::string Device;
    CComPort Port;
};

} // namespace

TEST_F(ComPortTest, RejectsNonComTokenWithoutOpeningAnything)
{
    int before = CountOpenDescriptors();
    EXPECT_FALSE(Port.Open("LPT1:115200,e,8,1"));
    EXPECT_FALSE(Port.Open("CON7:115200,e,8,1"));
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(ComPortTest, AcceptsLowerCaseComAndSetsTheLine)
{
    ASSERT_TRUE(Port.Open("com2:115200,e,8,1"));
    struct termios line;
    ASSERT_EQ(tcgetattr(Master, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), B115200);
    EXPECT_EQ(cfgetispeed(&line), B115200);
    // A pseudo-terminal always reports 8 data bits and no parity, whatever was asked.
    EXPECT_FALSE(line.c_cflag & CSTOPB) << "one stop bit";
    EXPECT_FALSE(line.c_cflag & CRTSCTS) << "no hardware flow control";
    EXPECT_TRUE(line.c_cflag & CLOCAL);
    EXPECT_TRUE(line.c_cflag & CREAD);
    EXPECT_FALSE(line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP));
    EXPECT_FALSE(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(line.c_oflag & OPOST);
}

TEST_F(ComPortTest, TakesLineSettingsFromTheModeString)
{
    ASSERT_TRUE(Port.Open("COM7:9600,o,7,2"));
    struct termios line;
    ASSERT_EQ(tcgetattr(Master, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), B9600);
    EXPECT_TRUE(line.c_cflag & CSTOPB);
}

TEST_F(ComPortTest, RefusesWhatIsNotAUsableTerminal)
{
    setenv("ORBELT_COM7", "/dev/null", 1);
    EXPECT_FALSE(Port.Open("COM7:115200,e,8,1")) << "not a terminal";
    EXPECT_STREQ(LastDiagnostic(), "cannot open /dev/null: not a terminal");
    setenv("ORBELT_COM7", "/nonexistent/tty", 1);
    EXPECT_FALSE(Port.Open("COM7:115200,e,8,1")) << "missing device";
    EXPECT_STREQ(LastDiagnostic(), "cannot open /nonexistent/tty: No such file or directory");
    setenv("ORBELT_COM7", Device.c_str(), 1);
    EXPECT_FALSE(Port.Open("COM7:115200,x,8,1")) << "unknown parity";
    EXPECT_FALSE(Port.Open("COMX:115200,e,8,1")) << "no port number";
}

TEST_F(ComPortTest, BytesPassUnchangedBothWays)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    std::string all;
    for (int value = 0; value < 256; ++value)
    {
        all += static_cast<char>(value);
    }
    SendFromBoard(all);
    char received[256];
    ASSERT_EQ(Port.Read(received, 256), 256);
    EXPECT_EQ(std::string(received, 256), all);

    ASSERT_EQ(Port.Write(all.data(), 256), 256);
    std::string echoed;
    double deadline = MonotonicSeconds() + 2;
    while (echoed.size() < 256 && MonotonicSeconds() < deadline)
    {
        char chunk[256];
        ssize_t n = read(Master, chunk, sizeof chunk);
        if (n > 0)
        {
            echoed.append(chunk, static_cast<size_t>(n));
        }
    }
    EXPECT_EQ(echoed, all);
}

TEST_F(ComPortTest, ShortReadWaitsTheFullSecond)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    SendFromBoard("A");
    char buffer[3] = {};
    double start = MonotonicSeconds();
    EXPECT_EQ(Port.Read(buffer, 3), 1);
    double took = MonotonicSeconds() - start;
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 3.0);
}

TEST_F(ComPortTest, SilentLineReadsNothingAfterOneSecond)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    char buffer[1];
    double start = MonotonicSeconds();
    double cpuStart = ThreadCpuSeconds();
    EXPECT_EQ(Port.Read(buffer, 1), 0);
    double took = MonotonicSeconds() - start;
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 3.0);
    EXPECT_LT(ThreadCpuSeconds() - cpuStart, 0.15) << "the wait must sleep, not spin";
}

TEST_F(ComPortTest, ReadCompletesAsSoonAsEverythingArrived)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    SendFromBoard("xyz");
    char buffer[3];
    double start = MonotonicSeconds();
    EXPECT_EQ(Port.Read(buffer, 3), 3);
    EXPECT_LT(MonotonicSeconds() - start, 0.6);
}

TEST_F(ComPortTest, OpenDiscardsBytesWaitingBefore)
{
    SendFromBoard("stale bytes");
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    EXPECT_EQ(Port.QueryStatus(0), 0u);
    SendFromBoard("new");
    EXPECT_TRUE(WaitUntil([&] { return Port.QueryStatus(0) == 3u; }, 5));
    EXPECT_EQ(Port.QueryStatus(1), 0u);
    EXPECT_EQ(Port.QueryStatus(5), 0u);
    EXPECT_EQ(Port.QueryStatus(-1), 0u);
    EXPECT_TRUE(Port.PurgeInput());
    EXPECT_EQ(Port.QueryStatus(0), 0u);
}

TEST_F(ComPortTest, SecondOpenOfTheSamePortFails)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    CComPort second;
    EXPECT_FALSE(second.Open("COM7:115200,e,8,1"));
    EXPECT_FALSE(second.Open("COM2:115200,e,8,1")) << "the same device under another number";
    EXPECT_TRUE(Port.Close());
    EXPECT_TRUE(second.Open("COM7:115200,e,8,1")) << "free again after Close";
    second.Close();
}

TEST_F(ComPortTest, SecondProcessCannotTakeThePort)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    // flock on the device from another process: the lock must be held against it.
    CProcessResult other = RunProcess({"/usr/bin/flock", "-n", "-x", Device, "true"});
    ASSERT_TRUE(other.Started) << other.Describe();
    EXPECT_TRUE(other.Exited);
    EXPECT_NE(other.ExitCode, 0) << "another process got the lock";
}

TEST_F(ComPortTest, VanishedDeviceEndsReadsAtOnceWithoutSpinning)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    SendFromBoard("Q");
    ASSERT_TRUE(WaitUntil([&] { return Port.QueryStatus(0) == 1u; }, 5));
    close(Master);
    Master = -1;
    char buffer[4] = {};
    double start = MonotonicSeconds();
    double cpuStart = ThreadCpuSeconds();
    int first = Port.Read(buffer, 4);
    int second = Port.Read(buffer + 1, 3);
    int written = Port.Write("abcde", 5);
    double took = MonotonicSeconds() - start;
    EXPECT_LE(first, 1) << "what had arrived may still be read";
    EXPECT_EQ(second, 0);
    EXPECT_LT(written, 5);
    EXPECT_LT(took, 0.9) << "hang-up must end the waits";
    EXPECT_LT(ThreadCpuSeconds() - cpuStart, 0.15);
}

TEST_F(ComPortTest, WriteGivesUpAfterFiveSecondsWhenNothingDrains)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    static char lots[4 << 20];
    double start = MonotonicSeconds();
    int written = Port.Write(lots, sizeof lots);
    double took = MonotonicSeconds() - start;
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(sizeof lots));
    EXPECT_GE(took, 5.0);
    EXPECT_LT(took, 15.0);
}

TEST_F(ComPortTest, ReadAvailableTakesWhatIsWaitingOrWaitsTheSecondForItsMinimum)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    SendFromBoard("abcde");
    ASSERT_TRUE(WaitUntil([&] { return Port.QueryStatus(0) == 5u; }, 5));
    char buffer[10] = {};
    double start = MonotonicSeconds();
    EXPECT_EQ(Port.ReadAvailable(buffer, 3, 4), 4);
    EXPECT_EQ(Port.ReadAvailable(buffer + 4, 1, 10), 1);
    EXPECT_LT(MonotonicSeconds() - start, 0.5);
    EXPECT_EQ(std::string(buffer, 5), "abcde");
    SendFromBoard("f");
    start = MonotonicSeconds();
    EXPECT_EQ(Port.ReadAvailable(buffer, 3, 10), 1);
    double took = MonotonicSeconds() - start;
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 3.0);
}

// A stop request (here SIGTERM once the read waits) ends a read at once, not after its second.
// In a child process, since a request stays made for the rest of the process.
TEST_F(ComPortTest, StopRequestEndsAReadWait)
{
    ASSERT_TRUE(Port.Open("COM7:115200,e,8,1"));
    EXPECT_EXIT(
        {
            CatchStopRequests();
            const pid_t reader = gettid();
            std::thread signaller(
                [reader]
                {
                    WaitUntil([reader] { return Sleeping(reader); }, 5);
                    kill(getpid(), SIGTERM);
                });
            char buffer[1];
            double start = MonotonicSeconds();
            int got = Port.Read(buffer, 1);
            double took = MonotonicSeconds() - start;
            signaller.join();
            fprintf(stderr, "read %d after %.3f s\n", got, took);
            exit(got == 0 && StopSignal() == SIGTERM && took < 0.6 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "read 0 after");
}
