#include "link/event_loop_wait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace qm::link {

EventLoopWait::EventLoopWait() {
  started_.start();
#ifdef __linux__
  // The kernel may end a sleep or a poll of this thread up to its timer slack late, 50 us unless
  // told otherwise, and each of a cycle's waits wakes more than once: ask for the wake-ups on time.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

void EventLoopWait::Sleep(uint32_t ms) {
  // The event loop wakes late: it polls in whole milliseconds, rounded up, and the kernel lets a
  // poll overrun by 0.1% of its timeout (0.5% when niced); over a poll cycle's four waits that was
  // most of its overrun. So a longer wait leaves the loop a few milliseconds early and a plain
  // sleep, which the kernel ends on time, waits out the rest.
  const QDeadlineTimer deadline(std::chrono::milliseconds(ms), Qt::PreciseTimer);
  const uint32_t early = ms >= 50 ? 2 + ms / 128 : 0;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(static_cast<int>(ms - early));
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  const qint64 rest = deadline.remainingTimeNSecs();
  if (rest > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(rest));
}

}  // namespace qm::link
