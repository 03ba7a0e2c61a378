// Single transactions against arbitrary replies: a few operations are described at the end of
// the input, the bytes left over are what the board answers.
#include "serial/ComPort.h"
#include "target/TargetLink.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzPort.h"

#include <cstdio>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace
{

enum EOperation
{
    OperationRead,
    OperationWriteCycle,
    OperationProgram,
    OperationVerify,
    OperationLast = OperationVerify,
};

struct Operation
{
    EOperation Kind;
    int Address;
    unsigned char Value;
    int Length;
    std::vector<unsigned char> Data;
};

const int MaxProgramLength = PortQueueSize / 3;

bool SameFrame(const FuzzFrame& frame, unsigned char command, int address, unsigned char data)
{
    const unsigned char expected[5] = {command, static_cast<unsigned char>(address),
                                       static_cast<unsigned char>(address >> 8),
                                       static_cast<unsigned char>(address >> 16), data};
    return memcmp(frame.Bytes, expected, sizeof expected) == 0;
}

// Lengths near the limits, or anywhere in int, or small ones.
int ConsumeLength(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 3))
    {
    case 0:
        return input.ConsumeIntegral<int>();
    case 1:
        return input.ConsumeIntegralInRange(MaxProgramLength - 2, MaxProgramLength + 2);
    case 2:
        return input.ConsumeIntegralInRange(VerifyBufferSize - 2, VerifyBufferSize + 2);
    default:
        return input.ConsumeIntegralInRange(-2, 80);
    }
}

Operation ConsumeOperation(FuzzedDataProvider& input)
{
    Operation operation;
    operation.Kind = static_cast<EOperation>(input.ConsumeIntegralInRange(0, int{OperationLast}));
    operation.Address = input.ConsumeIntegralInRange(0, 0xFFFFFF);
    operation.Value = input.ConsumeIntegral<unsigned char>();
    operation.Length = ConsumeLength(input);
    if (operation.Kind == OperationProgram || operation.Kind == OperationVerify)
    {
        // Exactly as many bytes as the transaction may touch, so that reading past them
        // is caught; a length the transaction must refuse gets a few bytes only.
        size_t bytes = operation.Length >= 0 && operation.Length <= MaxProgramLength
                           ? static_cast<size_t>(operation.Length)
                           : 4;
        operation.Data = input.ConsumeBytes<unsigned char>(bytes);
        operation.Data.resize(bytes);
        // The product always passes a real buffer, even for an empty block.
        operation.Data.reserve(1);
    }
    return operation;
}

void CheckRead(const Operation& operation)
{
    size_t before = FuzzRepliesLeft();
    unsigned char value = 0x5A;
    bool result = ReadTargetByte(operation.Address, value);
    const std::vector<FuzzFrame>& frames = FuzzFramesWritten();
    FUZZ_CHECK(frames.size() == 1 && SameFrame(frames[0], CommandRead, operation.Address, 0));
    FUZZ_CHECK(result == (before >= 1));
    FUZZ_CHECK(FuzzRepliesLeft() == (before >= 1 ? before - 1 : 0));
}

void CheckWriteCycle(const Operation& operation)
{
    size_t before = FuzzRepliesLeft();
    bool result = WriteTargetCycle(operation.Address, operation.Value);
    const std::vector<FuzzFrame>& frames = FuzzFramesWritten();
    FUZZ_CHECK(frames.size() == 1 &&
               SameFrame(frames[0], CommandWriteCycle, operation.Address, operation.Value));
    FUZZ_CHECK(result == (before >= 1));
    FUZZ_CHECK(FuzzRepliesLeft() == (before >= 1 ? before - 1 : 0));
}

void CheckProgram(const Operation& operation, const uint8_t* replies, size_t replyLength)
{
    size_t before = FuzzRepliesLeft();
    size_t used = replyLength - before;
    int length = operation.Length;
    bool result = ProgramBlock(operation.Address, operation.Data.data(), length);
    const std::vector<FuzzFrame>& frames = FuzzFramesWritten();
    if (length < 0 || length > MaxProgramLength)
    {
        FUZZ_CHECK(!result && frames.empty() && FuzzRepliesLeft() == before);
        return;
    }
    FUZZ_CHECK(frames.size() == 2 * static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
    {
        FUZZ_CHECK(SameFrame(frames[2 * i], CommandWriteCycle, 0x333, 0xA0));
        FUZZ_CHECK(
            SameFrame(frames[2 * i + 1], CommandProgram, operation.Address + i, operation.Data[i]));
    }
    // Each byte's three reply bytes end with the byte as programmed.
    bool expected = true;
    size_t taken = 0;
    for (int i = 0; i < length && expected; ++i)
    {
        if (before - taken < 3)
        {
            expected = false;
            break;
        }
        expected = replies[used + taken + 2] == operation.Data[i];
        taken += 3;
    }
    FUZZ_CHECK(result == expected);
    // Replies already waiting are taken in together, never beyond the block's own.
    const size_t blockReplies = 3 * static_cast<size_t>(length);
    FUZZ_CHECK(FuzzRepliesLeft() == before - (before < blockReplies ? before : blockReplies));
}

void CheckVerify(const Operation& operation, const uint8_t* replies, size_t replyLength)
{
    size_t before = FuzzRepliesLeft();
    size_t used = replyLength - before;
    int length = operation.Length;
    bool result = VerifyBlock(operation.Address, operation.Data.data(), length);
    const std::vector<FuzzFrame>& frames = FuzzFramesWritten();
    if (length < 0 || length > VerifyBufferSize)
    {
        FUZZ_CHECK(!result && frames.empty() && FuzzRepliesLeft() == before);
        return;
    }
    FUZZ_CHECK(frames.size() == static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
    {
        FUZZ_CHECK(SameFrame(frames[i], CommandRead, operation.Address + i, 0));
    }
    size_t wanted = static_cast<size_t>(length);
    bool expected = before >= wanted &&
                    (wanted == 0 || memcmp(replies + used, operation.Data.data(), wanted) == 0);
    FUZZ_CHECK(result == expected);
    FUZZ_CHECK(FuzzRepliesLeft() == (before >= wanted ? before - wanted : 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::vector<Operation> operations(input.ConsumeIntegralInRange(1, 6));
    for (Operation& operation : operations)
    {
        operation = ConsumeOperation(input);
    }
    std::vector<uint8_t> replies = input.ConsumeRemainingBytes<uint8_t>();

    // One reply stream for all operations: what one leaves unread, the next one reads.
    ResetFuzzPort(replies.data(), replies.size(), true);
    FUZZ_CHECK(TargetPort.Open("COM1:115200,e,8,1"));
    for (const Operation& operation : operations)
    {
        ClearFuzzFrames();
        switch (operation.Kind)
        {
        case OperationRead:
            CheckRead(operation);
            break;
        case OperationWriteCycle:
            CheckWriteCycle(operation);
            break;
        case OperationProgram:
            CheckProgram(operation, replies.data(), replies.size());
            break;
        case OperationVerify:
            CheckVerify(operation, replies.data(), replies.size());
            break;
        }
    }
    return 0;
}
