#pragma once

// What the transactions in TargetLink.cpp and ProgramTransaction.cpp share; for target/ only.
#include "serial/ComPort.h"
#include "target/TargetLink.h"

const int TargetFrameLength = sizeof(TargetFrame);
const int ProgramReplyLength = 3;
// The largest blocks the queues allow, both directions.
const int MaxProgramLength = PortQueueSize / ProgramReplyLength;
// A block's frames, gathered for one write.
extern unsigned char BlockFrames[MaxProgramLength * 2 * TargetFrameLength];

// A stop request ends a transaction before its next frame: never inside a frame, and never
// between the bypass program cycle and the program frame it arms.
bool MayStartFrame();
// Returns where the next frame goes.
unsigned char* PutFrame(unsigned char* at, TargetCommand command, int address, unsigned char data);
// Why a transaction failed, when its reply did not come whole; a stop is no time-out.
void DiagnoseMissingReply(const char* operation, int address, int received, int expected);
// Prints warning when more than bytesInFlight reply bytes are queued. Surplus bytes are left
// queued on purpose: they will be taken as the next replies.
void WarnOfSurplus(const char* warning, int bytesInFlight = 0);
// A block's read replies, length bytes into into; a diagnostic when they do not all come.
bool ReceiveReadBytes(int address, unsigned char* into, int length);
// Lets the frames sent go out, then waits at most graceMs until no more replies arrive, so that
// what is sent next meets none of them.
void AwaitQuietLine(int graceMs);
// Lets the frames sent go out, then waits at most graceMs until count reply bytes are queued.
void AwaitReplies(int count, int graceMs);
// The cycles of a sequence in one write, whatever a stop request says.
void PutSequenceFrames(const CCommandSequence& sequence);
