// Linux only: a descriptor the thread's own loop can poll beside its message
// queue (the C interface's quor_loop_fd). Windows waits on the queue itself.
#pragma once

#include "Win32/Win32Export.h"

extern "C" {

// From now on every message posted or sent to the calling thread's queue, and
// every SetEvent in the process, makes the eventfd fd readable (-1: none): the
// first of them adds 1 to it, the later ones find it readable already until
// the caller takes it with QuorQueueTakeWake. The caller owns fd and resets
// it before it closes it.
QUORWIN32_API void QuorQueueSetWakeFd(int fd);

// Reads the calling thread's eventfd empty; the next message or SetEvent
// makes it readable again.
QUORWIN32_API void QuorQueueTakeWake(void);

}  // extern "C"
