// A line that hands back every request (a 2-wire RS-485 adapter without echo suppression) under the
// window: the echo of a write is its own request, byte for byte the reply a meter would give.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "link/trace.h"
#include "meter/register_names.h"
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

// $QM7410_TRACE: the window's exchanges told as the command line tells them, with the window's
// fixed waits: a write the meter answers, then one it does not.
TEST(WindowTrace, TellsEachFrameAndItsOutcome) {
  qmtest::Harness h;
  h.dlg->m_bySlaveAddr = h.meter.Address();
  std::FILE* file = std::tmpfile();
  qm::link::Trace trace(file, qm::meter::RegisterName);
  h.dlg->m_pTrace = &trace;
  const uint64_t start = h.clock.NowMs();
  h.dlg->Click(1010);  // 功率反相: power direction 1, checked, 200 ms
  h.meter.InjectFault(qm::sim::Fault::Silence, 1);
  h.dlg->Click(1010);
  h.dlg->m_pTrace = nullptr;
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "%8llu ms > 01 06 00 26 00 01 A9 C1  write 1 to 0x0026 (power direction) at slave 1\n"
                "%8llu ms < 01 06 00 26 00 01 A9 C1 (8 bytes)\n"
                "%8llu ms = reply: register and value echoed, CRC ok\n"
                "%8llu ms > 01 06 00 26 00 01 A9 C1  write 1 to 0x0026 (power direction) at slave 1\n"
                "%8llu ms = no reply in 200 ms\n",
                static_cast<unsigned long long>(start), static_cast<unsigned long long>(start + 200),
                static_cast<unsigned long long>(start + 200), static_cast<unsigned long long>(start + 200),
                static_cast<unsigned long long>(start + 400));
  EXPECT_EQ(text, expected);
}

}  // namespace
