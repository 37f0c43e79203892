// The slave address scan: probe order, a hit, and the run/stop button ending it.
#include <gtest/gtest.h>

#include "link/crc16.h"
#include "tests/poll/window_util.h"

namespace {

using polltest::AddressOf;
using polltest::QuantityOf;
using polltest::RegisterOf;
using qmtest::Harness;
using qmtest::Hex;
using qmtest::Request;

TEST(AddressScan, ProbesOneToTwoFiftyFourThenZeroNever255) {
  Harness h({}, {.address = 255});  // a meter the scan can never reach
  const QString statusBefore = h.Text(1057);
  h.dlg->Click(1062);
  EXPECT_TRUE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer));
  EXPECT_EQ(h.dlg->TimerInterval(CMonitorDlg::kScanTimer), 700u);
  h.ScanTick(256);
  const auto sent = h.Requests();
  ASSERT_EQ(sent.size(), 256u);
  for (size_t i = 0; i < sent.size(); ++i) {
    const int expected = i < 254 ? static_cast<int>(i) + 1 : (i == 254 ? 0 : 1);
    ASSERT_EQ(Hex(sent[i]), Hex(Request(static_cast<uint8_t>(expected), 3, 0x0300, 1))) << i;
  }
  EXPECT_EQ(h.Text(1061), QStringLiteral("1"));
  EXPECT_TRUE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer)) << "no answer: the scan goes on";
  EXPECT_EQ(h.Text(1057), statusBefore) << "the status box keeps its start text";
}

TEST(AddressScan, HitAtSeventeen) {
  Harness h({}, {.address = 17});
  const QString statusBefore = h.Text(1057);
  h.dlg->Click(1062);
  h.ScanTick(16);
  EXPECT_EQ(h.Text(1061), QStringLiteral("16"));
  EXPECT_EQ(h.Text(1057), statusBefore);
  h.ScanTick();
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 17);
  EXPECT_EQ(h.Text(1061), QStringLiteral("17"));
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer));
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer)) << "the scan does not start polling";
  EXPECT_EQ(h.Text(1063), QStringLiteral("运行"));
  EXPECT_EQ(h.dlg->m_bRun, 0);
  EXPECT_EQ(h.Text(1057), QStringLiteral("串行口:1\r\n\r\n波特率: 9600\r\n\r\n校验位:无校验"));
}

TEST(AddressScan, HitShowsEvenParity) {
  Harness h({2, 4800, 3}, {.address = 2, .baud = 4800, .parity = 'E'});
  h.dlg->Click(1062);
  h.ScanTick(2);
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 2);
  EXPECT_EQ(h.Text(1057), QStringLiteral("串行口:3\r\n\r\n波特率: 4800\r\n\r\n校验位:偶校验"));
  EXPECT_TRUE(h.Text(1057).endsWith(QStringLiteral("校验位:偶校验")));
}

TEST(AddressScan, ScanStopsPollingAndRestartsAtOne) {
  Harness h({}, {.address = 200});
  polltest::StartPolling(h);
  h.Tick();
  h.dlg->Click(1062);
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer));
  EXPECT_EQ(h.Text(1063), QStringLiteral("停止")) << "run flag and caption are left alone";
  h.ScanTick(5);
  h.dlg->Click(1062);  // pressing again starts over
  h.ClearWire();
  h.ScanTick();
  ASSERT_EQ(h.Requests().size(), 1u);
  EXPECT_EQ(AddressOf(h.Requests()[0]), 1);
}

TEST(AddressScan, RunStopEndsTheScanAndPollsTheLastShownAddress) {
  Harness h({}, {.address = 200});
  h.dlg->Click(1062);
  h.ScanTick(5);
  EXPECT_EQ(h.Text(1061), QStringLiteral("5"));
  h.dlg->Click(1063);
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer));
  EXPECT_TRUE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer));
  EXPECT_EQ(h.dlg->m_bRun, 1);
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 5);
  h.ClearWire();
  h.Tick();
  ASSERT_FALSE(h.Requests().empty());
  EXPECT_EQ(AddressOf(h.Requests()[0]), 5);
}

TEST(AddressScan, ProbeDropsStaleInputAndIgnoresOtherReplies) {
  Harness h({}, {.address = 3});
  h.dlg->Click(1062);
  // A stray valid-looking reply from address 1 waiting on the line is dropped before the probe.
  std::vector<uint8_t> stale{0x01, 0x03, 0x02, 0x00, 0x01};
  const uint16_t crc = qm::CalcCrc16(stale.data(), 5);
  stale.push_back(static_cast<uint8_t>(crc >> 8));
  stale.push_back(static_cast<uint8_t>(crc & 0xFF));
  h.device.Inject(stale);
  h.ScanTick();
  EXPECT_TRUE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 0);
  // A garbled reply from the right address is no hit either.
  h.meter.InjectFault(qm::sim::Fault::BadCrc, 1);
  h.ScanTick(2);
  EXPECT_TRUE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer));
  h.dlg->Click(1062);
  h.ScanTick(3);
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 3);
  for (const auto& r : h.Requests()) {
    EXPECT_EQ(RegisterOf(r), 0x0300);
    EXPECT_EQ(QuantityOf(r), 1);
  }
}

}  // namespace
