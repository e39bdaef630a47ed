// A descriptor beside the thread's message queue, for loops that poll (the C
// interface's quor_loop_fd).
#include "Win32/QueueWake.h"

#include <unistd.h>

#include <cstdint>
#include <mutex>

#include "Win32/linux/Win32Linux.h"

using namespace qw_linux;

extern "C" {

void QuorQueueSetWakeFd(int fd) {
  UserState& u = User();
  std::lock_guard<std::mutex> held(u.lock);
  Queue& q = OwnQueueLocked(u);
  q.wakeFd = fd;
  q.wakeSignalled = false;
}

void QuorQueueTakeWake(void) {
  UserState& u = User();
  // Under the lock every writer takes: none finds the flag set while the
  // descriptor is already read.
  std::lock_guard<std::mutex> held(u.lock);
  Queue& q = OwnQueueLocked(u);
  if (q.wakeFd < 0) return;
  uint64_t count;
  if (read(q.wakeFd, &count, sizeof(count)) < 0) {
    // Nothing was written (EAGAIN): it was not readable.
  }
  q.wakeSignalled = false;
}

}  // extern "C"
