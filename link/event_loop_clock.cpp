#include "link/event_loop_clock.h"

#include <QEventLoop>
#include <QTimer>

namespace qm::link {

void EventLoopClock::Sleep(uint32_t ms) {
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(static_cast<int>(ms));
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace qm::link
