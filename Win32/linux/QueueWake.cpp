// A descriptor beside the thread's message queue, for loops that poll (the C
// interface's quor_loop_fd).
#include "Win32/QueueWake.h"

#include <mutex>

#include "Win32/linux/Win32Linux.h"

using namespace qw_linux;

extern "C" {

void QuorQueueSetWakeFd(int fd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  OwnQueueLocked(u).wakeFd = fd;
}

}  // extern "C"
