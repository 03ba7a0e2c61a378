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
