// "更改子机地址": the write through the old address and the window following the new one.
#include "commands/slave_addr_dlg.h"

#include "tests/commands/window_test_util.h"

namespace {

using cmdtest::Frames;
using cmdtest::Write;
using qmtest::Harness;

constexpr int kPoll = CMonitorDlg::kPollTimer;

struct SlaveAddr : ::testing::Test {
  Harness h;
  void SetUp() override {
    cmdtest::UseAddress(h, 1);
    h.ClearWire();
  }
  void Answer(const char* address) {
    h.OnNextModal([=, this](fw::CDialog& d) {
      EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
      d.SetDlgItemText(CSlaveAddrDlg::kEditAddress, address);
      d.Click(fw::IDOK);
      return d.Result();
    });
    h.dlg->Click(1007);
  }
};

TEST_F(SlaveAddr, NewAddressGoesOutThroughTheOldOneAndIsUsedFromThenOn) {
  h.dlg->SetTimer(kPoll, h.dlg->m_nPollInterval);
  Answer("5");
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0000, 5)})) << Frames(h.Requests());
  EXPECT_EQ(h.meter.Address(), 5);
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 5);
  EXPECT_EQ(h.Text(1061), "5");
  EXPECT_TRUE(h.messages.empty());
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->TimerInterval(kPoll), 700u);

  h.ClearWire();
  h.Tick();
  ASSERT_FALSE(h.Requests().empty());
  EXPECT_EQ(h.Requests().front()[0], 0x05);
  EXPECT_EQ(h.dlg->m_nGoodSettings, 1u) << "the meter did not answer at its new address";
}

TEST_F(SlaveAddr, DialogShowsTheCurrentAddressAndSendsItAgainOnOk) {
  h.OnNextModal([](fw::CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(CSlaveAddrDlg::kEditAddress), "1");
    d.Click(fw::IDOK);
    return d.Result();
  });
  h.dlg->Click(1007);
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0000, 1)}));
}

TEST_F(SlaveAddr, BothEndsOfTheRangeAreAccepted) {
  Answer("255");
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0000, 255)}));
  EXPECT_EQ(h.meter.Address(), 255);
  h.ClearWire();
  Answer("0");
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(255, 0x0000, 0)}));
  EXPECT_EQ(h.Text(1061), "0");
}

TEST_F(SlaveAddr, OutOfRangeIsRefusedByTheDialog) {
  h.OnNextModal([this](fw::CDialog& d) {
    for (const char* bad : {"256", "-1", "x"}) {
      d.SetDlgItemText(CSlaveAddrDlg::kEditAddress, bad);
      const size_t before = h.messages.size();
      d.Click(fw::IDOK);
      EXPECT_EQ(h.messages.size(), before + 1) << bad << " was not refused";
      EXPECT_FALSE(d.IsEnded()) << bad;
    }
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  h.dlg->Click(1007);
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
}

TEST_F(SlaveAddr, CancelSendsNothingAndRestartsPolling) {
  h.OnNextModal([](fw::CDialog& d) {
    d.SetDlgItemText(CSlaveAddrDlg::kEditAddress, "9");
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  h.dlg->Click(1007);
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
  EXPECT_EQ(h.Text(1061), "1");
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->TimerInterval(kPoll), 700u);
}

TEST_F(SlaveAddr, SilentMeterKeepsItsAddressWhileTheWindowMovesOn) {
  h.meter.InjectFault(qm::sim::Fault::Silence, 1);
  Answer("9");
  EXPECT_EQ(h.Requests().size(), 1u);
  EXPECT_EQ(h.meter.Address(), 9) << "a silent meter still takes the write";
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 9);
  EXPECT_TRUE(h.messages.empty());
}

}  // namespace
