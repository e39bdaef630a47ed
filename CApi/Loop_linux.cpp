// The loop's descriptor on Linux: an epoll descriptor over an eventfd (made
// readable by the Win32 subset whenever a message is posted to the thread's queue
// or an event object is set, and by the interface when it keeps an event)
// and a timerfd set to the next timer the loop has armed. It is readable
// exactly while one of the two is.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>

#include "CApi/CApiInternal.h"
#include "Win32/QueueWake.h"

namespace quorc {
namespace {

struct Loop {
  int Epoll = -1;
  int Wake = -1;
  int Timer = -1;
  bool TimerArmed = false;  // disarmed, the timerfd is never readable: no call needed to read or disarm it
  ~Loop() {
    if (Epoll < 0) return;
    QuorQueueSetWakeFd(-1);
    close(Timer);
    close(Wake);
    close(Epoll);
  }
};

thread_local Loop tLoop;

void Take(int Fd) {
  uint64_t count;
  while (read(Fd, &count, sizeof(count)) == static_cast<ssize_t>(sizeof(count))) {
  }
}

void SetTimer(uint64_t Ms) {
  if (Ms == 0 && !tLoop.TimerArmed) return;
  tLoop.TimerArmed = Ms != 0;
  itimerspec spec{};
  if (Ms != 0) {
    spec.it_value.tv_sec = static_cast<time_t>(Ms / 1000);
    spec.it_value.tv_nsec = static_cast<long>((Ms % 1000) * 1000000);
  }
  timerfd_settime(tLoop.Timer, 0, &spec, nullptr);  // 0: disarmed
}

}  // namespace

void LoopAttach() {
  if (tLoop.Epoll >= 0) return;
  const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  const int epoll = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  if (wake < 0 || timer < 0 || epoll < 0 || epoll_ctl(epoll, EPOLL_CTL_ADD, wake, &ev) != 0 ||
      epoll_ctl(epoll, EPOLL_CTL_ADD, timer, &ev) != 0) {
    for (int fd : {wake, timer, epoll}) {
      if (fd >= 0) close(fd);
    }
    return;  // no descriptor: quor_loop_fd answers -1, quor_loop_run still works
  }
  tLoop.Wake = wake;
  tLoop.Timer = timer;
  tLoop.Epoll = epoll;
  QuorQueueSetWakeFd(wake);
}

void LoopWake() {
  if (tLoop.Wake < 0) return;
  const uint64_t one = 1;
  if (write(tLoop.Wake, &one, sizeof(one)) < 0) {
    // The counter is full: it is readable already.
  }
}

void LoopDrain() {
  if (tLoop.Epoll < 0) return;
  QuorQueueTakeWake();  // under the queue's lock, so no post in between is lost
  if (tLoop.TimerArmed) Take(tLoop.Timer);
}

void LoopRearm() {
  if (tLoop.Epoll < 0) return;
  const int64_t wait = quor_loop_timeout();
  if (wait == 0) {
    SetTimer(0);
    LoopWake();
  } else if (wait < 0 || QuorClockIsVirtual()) {
    SetTimer(0);  // virtual time moves only in quor_loop_run
  } else {
    SetTimer(static_cast<uint64_t>(wait));
  }
}

int LoopFd() {
  return tLoop.Epoll;
}

void* LoopHandle() {
  return nullptr;
}

}  // namespace quorc
