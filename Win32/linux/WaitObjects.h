// Between the Win32 subset's event objects (WaitObjects.cpp) and its
// message queues (Messages.cpp): how a wait on both learns of a signalled
// event. Internal to libquorwin32 on Linux; Windows has the real thing.
#pragma once

#include "Win32/Win32.h"

namespace qw_wait {

// With the queues' lock held: the index of the first of Handles that is
// signalled, taking the signal of an auto-reset event; -1 when none is; -2
// when one of them is not an event object.
int TakeSignalled(DWORD Count, const HANDLE* Handles);

// Wakes every thread waiting on its queue, so that one waiting on events too
// looks at them again. Defined by the queues; called without any lock.
void WakeQueueWaiters();

}  // namespace qw_wait
