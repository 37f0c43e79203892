// A line that hands back every request (a 2-wire RS-485 adapter without echo suppression) under the
// window: the echo of a write is its own request, byte for byte the reply a meter would give.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/harness.h"

namespace {

struct EchoingLine : ::testing::Test {
  EchoingLine() {
    h.device.SetEcho(true);
    h.dlg->m_bySlaveAddr = h.meter.Address();
  }
  ~EchoingLine() override { ::unsetenv("QM7410_ECHO1"); }
  // 功率反相: a checked write, told in a message box.
  QString Reverse() {
    h.messages.clear();
    h.dlg->Click(1010);
    return h.messages.empty() ? QString() : h.messages.back();
  }
  qmtest::Harness h;
};

// Told that port 1 echoes ($QM7410_ECHO1=1), the window drops exactly the echo: a meter that answers
// confirms the write, a silent one does not. Without it, the echo alone looks like a confirmation.
TEST_F(EchoingLine, AWriteWhoseOnlyReplyIsItsEchoIsNotConfirmedOnceTheEchoIsKnown) {
  h.meter.InjectFault(qm::sim::Fault::Silence, 1);
  EXPECT_EQ(Reverse(), QStringLiteral("功率反相成功")) << "the echo taken for the reply";

  ::setenv("QM7410_ECHO1", "1", 1);
  h.meter.InjectFault(qm::sim::Fault::Silence, 1);
  EXPECT_EQ(Reverse(), QStringLiteral("功率反相不成功"));
  EXPECT_EQ(Reverse(), QStringLiteral("功率反相成功"));
  // A read goes through as well: the settings block's slave address shows after a poll cycle.
  h.ClearWire();
  h.Tick();
  EXPECT_EQ(h.dlg->m_nGoodSettings, 1u);
}

}  // namespace
