// The whole download against arbitrary replies, in every verify mode, checked against a
// model of the exchange the board expects.
#include "image/Image.h"
#include "target/Download.h"
#include "target/RunPlan.h"
#include "target/TargetLink.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzPort.h"

#include <cstdio>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace
{

struct Cycle
{
    int Address;
    unsigned char Value;
};

const Cycle EraseCycles[] = {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80},
                             {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x10}};
const Cycle EnterBypass[] = {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x20}};
const Cycle LeaveBypass[] = {{0x333, 0x90}, {0x333, 0xF0}};

// What a correct host sends and reads for the given replies.
class CModel
{
  public:
    CModel(const uint8_t* replies, size_t length) : Replies(replies), Length(length) {}

    bool Run(int mode, bool opens)
    {
        if (!opens)
        {
            return false;
        }
        if (mode == 2)
        {
            return VerifyAll() || Realign();
        }
        if (!Cycles(EraseCycles) || !AwaitErased())
        {
            return Realign();
        }
        if (!ProgramAll())
        {
            // Then the leave-bypass cycles without waiting for their replies.
            Realign();
            Frame(CommandWriteCycle, 0x333, 0x90);
            Frame(CommandWriteCycle, 0x333, 0xF0);
            return false;
        }
        return mode != 1 || VerifyAll() || Realign();
    }

    std::vector<FuzzFrame> Frames;
    size_t Position = 0;
    size_t RealignBytes = 0;

  private:
    // After a failure: replies purged, then the filler, a read frame of zero bytes and zero
    // bytes one by one, none answered.
    bool Realign()
    {
        Position = Length;
        RealignBytes += 4;
        Frame(CommandRead, 0, 0);
        RealignBytes += 6;
        return false;
    }

    bool ProgramAll()
    {
        if (!Cycles(EnterBypass))
        {
            return false;
        }
        for (int offset = 0; offset < ImageLength; offset += BlockSize)
        {
            for (int i = 0; i < BlockSize; ++i)
            {
                Frame(CommandWriteCycle, 0x333, 0xA0);
                Frame(CommandProgram, offset + i, ImageBuffer[offset + i]);
            }
            // Replies already there are taken in together, up to the block's own.
            const size_t blockEnd = Position + 3 * BlockSize;
            for (int i = 0; i < BlockSize; ++i)
            {
                const uint8_t* reply = nullptr;
                if (!Take(3, reply) || reply[2] != ImageBuffer[offset + i])
                {
                    Position = blockEnd < Length ? blockEnd : Length;
                    return false;
                }
            }
        }
        return Cycles(LeaveBypass);
    }

    void Frame(unsigned char command, int address, unsigned char data)
    {
        FuzzFrame frame = {{command, static_cast<unsigned char>(address),
                            static_cast<unsigned char>(address >> 8),
                            static_cast<unsigned char>(address >> 16), data}};
        Frames.push_back(frame);
    }

    // A short read still swallows whatever had arrived.
    bool Take(size_t count, const uint8_t*& bytes)
    {
        if (Length - Position < count)
        {
            Position = Length;
            return false;
        }
        bytes = Replies + Position;
        Position += count;
        return true;
    }

    template <size_t Count> bool Cycles(const Cycle (&cycles)[Count])
    {
        for (const Cycle& cycle : cycles)
        {
            Frame(CommandWriteCycle, cycle.Address, cycle.Value);
            const uint8_t* acknowledgement = nullptr;
            if (!Take(1, acknowledgement))
            {
                return false;
            }
        }
        return true;
    }

    bool AwaitErased()
    {
        uint8_t last = 0;
        for (int poll = 0; poll < ErasePollLimit; ++poll)
        {
            Frame(CommandRead, 0, 0);
            const uint8_t* value = nullptr;
            if (!Take(1, value))
            {
                return false;
            }
            if (*value == 0xFF)
            {
                return true;
            }
            if (poll > 0 && *value == last)
            {
                // An erase that never started: realigned, then the first leave-bypass cycle
                // finds no reply left.
                Realign();
                Frame(CommandWriteCycle, 0x333, 0x90);
                return false;
            }
            last = *value;
        }
        return false;
    }

    bool VerifyAll()
    {
        for (int offset = 0; offset < ImageLength; offset += BlockSize)
        {
            for (int i = 0; i < BlockSize; ++i)
            {
                Frame(CommandRead, offset + i, 0);
            }
            const uint8_t* bytes = nullptr;
            if (!Take(BlockSize, bytes) || memcmp(bytes, ImageBuffer + offset, BlockSize) != 0)
            {
                return false;
            }
        }
        return true;
    }

    const uint8_t* Replies;
    size_t Length;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    int mode = input.ConsumeIntegralInRange(0, 2);
    bool opens = input.ConsumeIntegralInRange(0, 15) != 0;
    PortNumber = input.ConsumeIntegralInRange(MinPortNumber, MaxPortNumber);
    // Mostly images of a few blocks; sometimes any length up to the whole flash.
    ImageLength = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 4 * BlockSize)
                                      : input.ConsumeIntegralInRange(0, ImageCapacity);
    unsigned char first = input.ConsumeIntegral<unsigned char>();
    unsigned char step = input.ConsumeIntegral<unsigned char>();
    int filled = (ImageLength + BlockSize - 1) / BlockSize * BlockSize;
    for (int i = 0; i < filled; ++i)
    {
        ImageBuffer[i] = static_cast<unsigned char>(first + step * i);
    }
    std::vector<uint8_t> replies = input.ConsumeRemainingBytes<uint8_t>();

    VerifyMode = mode;
    RunMode = &DownloadMode(mode);
    ResetFuzzPort(replies.data(), replies.size(), opens);
    CBoardRun run;
    bool result = RunDownload(run);

    CModel model(replies.data(), replies.size());
    bool expected = model.Run(mode, opens);
    const std::vector<FuzzFrame>& frames = FuzzFramesWritten();
    FUZZ_CHECK(result == expected);
    FUZZ_CHECK(frames.size() == model.Frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
    {
        FUZZ_CHECK(memcmp(frames[i].Bytes, model.Frames[i].Bytes, sizeof frames[i].Bytes) == 0);
    }
    FUZZ_CHECK(FuzzRepliesLeft() == replies.size() - model.Position);
    FUZZ_CHECK(FuzzRealignBytesWritten() == model.RealignBytes);
    return 0;
}
