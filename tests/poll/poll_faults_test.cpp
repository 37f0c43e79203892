// The poll cycle against every fault of the simulated meter, and a long run with faults mixed in.
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <random>

#include "tests/poll/window_util.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using polltest::Setting;
using polltest::StartPolling;
using qm::sim::Fault;
using qmtest::Harness;

const Fault kFaults[] = {Fault::Silence,      Fault::Late,      Fault::Noise,     Fault::BadCrc,
                         Fault::WrongAddress, Fault::Exception, Fault::Truncated, Fault::Flood};

const char* Name(Fault f) {
  switch (f) {
    case Fault::None:
      return "None";
    case Fault::Silence:
      return "Silence";
    case Fault::Late:
      return "Late";
    case Fault::Noise:
      return "Noise";
    case Fault::BadCrc:
      return "BadCrc";
    case Fault::WrongAddress:
      return "WrongAddress";
    case Fault::Exception:
      return "Exception";
    case Fault::Truncated:
      return "Truncated";
    case Fault::Flood:
      return "Flood";
  }
  return "?";
}

// Noise before a reply does not hide it; every other fault loses the reply.
bool ReplySurvives(Fault f) { return f == Fault::Noise; }

class FaultedCycle : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultedCycle, BadMeasurementReplyShowsNothingNew) {
  const Fault f = GetParam();
  Harness h;
  h.meter.Freeze(true);
  h.meter.SetMeasurementWord(0, 22000);
  h.meter.SetMeasurementWord(28, 1000);
  StartPolling(h);
  h.Tick();
  ASSERT_EQ(h.Text(1001), QStringLiteral("220.00 V"));

  h.meter.SetMeasurementWord(0, 23000);
  h.meter.SetMeasurementWord(28, 2000);
  h.meter.InjectFault(Fault::None, 3);
  h.meter.InjectFault(f, 1);
  h.Tick();
  EXPECT_EQ(h.Text(1001), ReplySurvives(f) ? QStringLiteral("230.00 V") : QStringLiteral("220.00 V"));
  EXPECT_EQ(h.meter.PendingFaults(), 0u);

  h.clock.Advance(3000);  // whatever was late has landed and is dropped by the next exchange
  h.Tick();
  EXPECT_EQ(h.Text(1001), QStringLiteral("230.00 V"));
  EXPECT_EQ(h.Text(1033), QStringLiteral("800.0 W"));  // 2000 * power scale 4 / 10
}

TEST_P(FaultedCycle, WholeCycleFaultedLeavesEverySettingAlone) {
  const Fault f = GetParam();
  Harness h;
  h.meter.Freeze(true);
  h.meter.SetMeasurementWord(0, 22000);
  StartPolling(h);
  h.Tick();
  const QString before1021 = h.Text(1021);
  const QString before1022 = h.Text(1022);

  h.meter.SetWord(Setting(14), 10);  // PT 10
  h.meter.SetByte(Setting(49), 33);
  h.meter.SetMeasurementWord(0, 23000);
  h.meter.InjectFault(f, 4);
  h.Tick();
  if (ReplySurvives(f)) {
    EXPECT_EQ(h.dlg->m_nPT, 10u);
    EXPECT_EQ(h.Text(1001), QStringLiteral("2.30 KV"));
  } else {
    EXPECT_EQ(h.dlg->m_nPT, 1u) << Name(f);
    EXPECT_EQ(h.dlg->m_byAnalogSel, 1);
    EXPECT_EQ(h.dlg->m_nGoodSettings, 1u);
    EXPECT_EQ(h.Text(1021), before1021);
    EXPECT_EQ(h.Text(1001), QStringLiteral("220.00 V"));
    // The second analog value was lost: the row is emptied, as for any missing reply.
    EXPECT_EQ(h.Text(1022), QString());
    EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), 0);
  }
  EXPECT_FALSE(before1022.isEmpty());
  EXPECT_TRUE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer)) << "a lost reply never stops polling";
  EXPECT_TRUE(h.messages.empty()) << "the poll cycle reports nothing";

  h.clock.Advance(3000);
  h.Tick();
  EXPECT_EQ(h.dlg->m_nPT, 10u);
  EXPECT_EQ(h.Text(1001), QStringLiteral("2.30 KV"));
  EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), 33);
  EXPECT_EQ(h.Text(1022), QStringLiteral("300"));
}

TEST_P(FaultedCycle, FaultyFirstTickKeepsTheTemplateTitle) {
  const Fault f = GetParam();
  Harness h;
  StartPolling(h);
  h.meter.InjectFault(f, 1);
  h.Tick();
  if (ReplySurvives(f))
    EXPECT_EQ(h.dlg->GetWindowText(), QStringLiteral("VM7410智能电力监测仪------Velmora(1.2.03版)"));
  else
    EXPECT_EQ(h.dlg->GetWindowText(), QStringLiteral("QM7410智能电力监测仪-------Korvath")) << Name(f);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultedCycle, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return std::string(Name(info.param));
                         });

// Live heap bytes: the allocator's own count under ASan, glibc's otherwise.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

TEST(PollFaults, LongRunWithFaultsKeepsMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
  // The window's text layout dominates a cycle; under the sanitizers 40000 cycles keep this test
  // near ten seconds and still show any growth per cycle.
  constexpr int kCycles = 40000;
#else
  constexpr int kCycles = 100000;
#endif
  constexpr int kWarmUp = 2000;
  const auto started = std::chrono::steady_clock::now();
  Harness h;
  StartPolling(h);
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(kFaults)) - 1), count(1, 4);
  size_t afterWarmUp = 0;
  int measurementsShown = 0;
  QString last;
  for (int i = 0; i < kCycles; ++i) {
    if (i % 5 == 0) h.meter.InjectFault(kFaults[pick(rng)], count(rng));
    if (i % 97 == 0) h.meter.SetByte(Setting(49), static_cast<uint8_t>(i % 40));
    h.Tick();
    if (h.Text(1001) != last) {
      last = h.Text(1001);
      ++measurementsShown;
    }
    if (i % 1000 == 0) h.ClearWire();  // the simulator's wire log is test bookkeeping
    if (i == kWarmUp) afterWarmUp = HeapInUse();
  }
  h.ClearWire();
  const size_t atEnd = HeapInUse();
  EXPECT_LT(atEnd, afterWarmUp + 256 * 1024) << "heap grew from " << afterWarmUp << " to " << atEnd;
  EXPECT_GT(measurementsShown, kCycles / 4) << "most cycles show fresh values";

  // A clean cycle after all that shows exactly what the meter holds.
  h.meter.ClearFaults();
  h.meter.Freeze(true);
  h.meter.SetByte(Setting(49), 1);
  h.meter.SetMeasurementWord(0, 22000);
  h.clock.Advance(3000);
  h.Tick();
  EXPECT_EQ(h.Text(1001), QStringLiteral("220.00 V"));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  RecordProperty("cycles", kCycles);
  RecordProperty("seconds", std::to_string(seconds));
  std::printf("%d cycles in %.1f s (%.1f us per cycle), heap %zu -> %zu bytes\n", kCycles, seconds,
              seconds * 1e6 / kCycles, afterWarmUp, atEnd);
}

}  // namespace
