// Linux only: a descriptor the thread's own loop can poll beside its message
// queue (the C interface's quor_loop_fd). Windows waits on the queue itself.
#pragma once

#include "Win32/Win32Export.h"

extern "C" {

// From now on every message posted or sent to the calling thread's queue, and
// every SetEvent in the process, adds 1 to the eventfd fd (-1: none). The
// caller owns fd and resets it before it closes it.
QUORWIN32_API void QuorQueueSetWakeFd(int fd);

}  // extern "C"
