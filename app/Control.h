#pragma once

// A worker's side of --ports: the parent's lines on standard input, read by a thread of their
// own. "stop N" is a stop request as signal N makes it; the end of the input, a parent that has
// gone, one as a hang-up makes it; "passed N" tells of a board that passed on another port.
void ListenToParent();
// The boards that passed elsewhere since the last call are noted, so that one that comes to
// this port is left alone.
void TakeParentNews();
