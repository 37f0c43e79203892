// "仪表设置" against the simulated meter: the dialog, the three writes and their messages.
#include "commands/meter_set_dlg.h"

#include "tests/commands/window_test_util.h"

namespace {

using cmdtest::Frames;
using cmdtest::Q;
using cmdtest::Write;
using qmtest::Harness;

constexpr int kPoll = CMonitorDlg::kPollTimer;

// A window already talking to the meter at address 1, with polling running.
struct MeterSet : ::testing::Test {
  Harness h;
  void SetUp() override {
    cmdtest::UseAddress(h, 1);
    h.dlg->SetTimer(kPoll, h.dlg->m_nPollInterval);
    h.ClearWire();
  }
  // Fills the dialog and presses "设置"; the script reports whether the dialog ended.
  void RunDialog(const char* pt, const char* ct, int wiringRadio = 0) {
    h.OnNextModal([=, this](fw::CDialog& d) {
      EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll)) << "the poll must stop before the dialog opens";
      d.SetDlgItemText(CMeterSetDlg::kEditPT, pt);
      d.SetDlgItemText(CMeterSetDlg::kEditCT, ct);
      if (wiringRadio) d.Click(wiringRadio);
      d.Click(fw::IDOK);
      return d.Result();
    });
    h.dlg->Click(1006);
  }
};

TEST_F(MeterSet, WritesPtCtAndWiringInOrderAndTheMeterTakesThem) {
  RunDialog("64000", "200", 1012);
  const std::vector<cmdtest::Frame> expected{Write(1, 0x030E, 64000), Write(1, 0x0312, 200), Write(1, 0x0002, 3)};
  EXPECT_EQ(h.Requests(), expected) << Frames(h.Requests());
  EXPECT_EQ(h.Requests()[0][4], 0xFA);  // PT 64000 high byte first
  EXPECT_EQ(h.Requests()[0][5], 0x00);
  EXPECT_EQ(cmdtest::Gaps(h), (std::vector<uint64_t>{200, 200}));  // short reply wait at 9600
  EXPECT_TRUE(h.messages.empty());

  EXPECT_EQ(h.meter.Word(0x030E), 64000);
  EXPECT_EQ(h.meter.Word(0x0312), 200);
  EXPECT_EQ(h.meter.Byte(0x0303), 3);
  // The window's own values wait for the poll to read them back.
  EXPECT_EQ(h.dlg->m_nPT, 1u);
  EXPECT_EQ(h.dlg->m_nCT, 1u);
  EXPECT_EQ(h.dlg->m_byWiring, 0);
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->TimerInterval(kPoll), 700u);
}

TEST_F(MeterSet, OpensWithTheStartValuesBeforeAnyPoll) {
  h.OnNextModal([](fw::CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(CMeterSetDlg::kEditPT), "1");
    EXPECT_EQ(d.GetDlgItemText(CMeterSetDlg::kEditCT), "1");
    EXPECT_TRUE(d.IsDlgButtonChecked(1009));
    for (int id = 1010; id <= 1014; ++id) EXPECT_FALSE(d.IsDlgButtonChecked(id)) << id;
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  h.dlg->Click(1006);
}

TEST_F(MeterSet, OpensWithWhatThePollReadFromTheMeter) {
  Harness p({}, {.pt = 100, .ct = 50, .wiring = 2});
  cmdtest::UseAddress(p, 1);
  p.dlg->SetTimer(kPoll, 700);
  p.Tick();
  ASSERT_EQ(p.dlg->m_nPT, 100u) << "the poll did not read the settings block";
  p.OnNextModal([](fw::CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(CMeterSetDlg::kEditPT), "100");
    EXPECT_EQ(d.GetDlgItemText(CMeterSetDlg::kEditCT), "50");
    for (int id = 1009; id <= 1014; ++id) EXPECT_EQ(d.IsDlgButtonChecked(id), id == 1011) << id;
    d.Click(fw::IDOK);  // unchanged values go back as they are
    return d.Result();
  });
  p.ClearWire();
  p.dlg->Click(1006);
  const std::vector<cmdtest::Frame> expected{Write(1, 0x030E, 100), Write(1, 0x0312, 50), Write(1, 0x0002, 2)};
  EXPECT_EQ(p.Requests(), expected) << Frames(p.Requests());
}

TEST_F(MeterSet, RatiosOutsideOneTo64000KeepTheDialogOpen) {
  h.OnNextModal([this](fw::CDialog& d) {
    auto& dlg = dynamic_cast<CMeterSetDlg&>(d);
    for (const char* bad : {"0", "64001", "-1", "abc", "4294967296"}) {
      d.SetDlgItemText(CMeterSetDlg::kEditPT, bad);
      const size_t before = h.messages.size();
      d.Click(fw::IDOK);
      EXPECT_EQ(h.messages.size(), before + 1) << "PT " << bad << " was not refused";
      EXPECT_FALSE(d.IsEnded()) << bad;
    }
    d.SetDlgItemText(CMeterSetDlg::kEditPT, "1");
    d.SetDlgItemText(CMeterSetDlg::kEditCT, "64001");
    const size_t before = h.messages.size();
    d.Click(fw::IDOK);
    EXPECT_EQ(h.messages.size(), before + 1) << "CT 64001 was not refused";
    EXPECT_FALSE(d.IsEnded());
    d.SetDlgItemText(CMeterSetDlg::kEditCT, "64000");
    d.Click(fw::IDOK);
    EXPECT_TRUE(d.IsEnded());
    EXPECT_EQ(dlg.m_nPT, 1u);
    EXPECT_EQ(dlg.m_nCT, 64000u);
    return d.Result();
  });
  h.dlg->Click(1006);
  const std::vector<cmdtest::Frame> expected{Write(1, 0x030E, 1), Write(1, 0x0312, 64000), Write(1, 0x0002, 0)};
  EXPECT_EQ(h.Requests(), expected) << Frames(h.Requests());
}

TEST_F(MeterSet, SilentMeterGivesAllThreeMessagesInOrder) {
  h.meter.InjectFault(qm::sim::Fault::Silence, 3);
  RunDialog("10", "20");
  EXPECT_EQ(h.Requests().size(), 3u);
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("设置PT不成功"), Q("设置CT不成功"), Q("设置接线方式不成功")}));
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
}

TEST_F(MeterSet, MeterConfirmingOnlyThePtWrite) {
  h.meter.InjectFault(qm::sim::Fault::None, 1);
  h.meter.InjectFault(qm::sim::Fault::BadCrc, 1);
  h.meter.InjectFault(qm::sim::Fault::WrongAddress, 1);
  RunDialog("10", "20");
  EXPECT_EQ(h.Requests().size(), 3u);
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("设置CT不成功"), Q("设置接线方式不成功")}));
}

TEST_F(MeterSet, UnknownWiringCodeLeavesAllRadiosUncheckedAndIsWrittenBack) {
  h.dlg->m_byWiring = 7;
  h.OnNextModal([](fw::CDialog& d) {
    for (int id = 1009; id <= 1014; ++id) EXPECT_FALSE(d.IsDlgButtonChecked(id)) << id;
    d.Click(fw::IDOK);
    return d.Result();
  });
  h.dlg->Click(1006);
  ASSERT_EQ(h.Requests().size(), 3u);
  EXPECT_EQ(h.Requests()[2], Write(1, 0x0002, 7));
  EXPECT_EQ(h.meter.Byte(0x0303), 7);
}

TEST_F(MeterSet, RadioClicksKeepOneCheckedAndSetTheCode) {
  h.OnNextModal([](fw::CDialog& d) {
    auto& dlg = dynamic_cast<CMeterSetDlg&>(d);
    for (int code : {5, 1, 4, 0, 2}) {
      d.Click(1009 + code);
      EXPECT_EQ(dlg.m_byWiring, code);
      for (int id = 1009; id <= 1014; ++id) EXPECT_EQ(d.IsDlgButtonChecked(id), id == 1009 + code) << id;
    }
    d.Click(fw::IDOK);
    return d.Result();
  });
  h.dlg->Click(1006);
  EXPECT_EQ(h.meter.Byte(0x0303), 2);
}

TEST_F(MeterSet, CancelSendsNothingAndRestartsPollingEvenWhenItWasOff) {
  h.dlg->KillTimer(kPoll);
  h.OnNextModal([](fw::CDialog& d) {
    d.SetDlgItemText(CMeterSetDlg::kEditPT, "5");
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  h.dlg->Click(1006);
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_TRUE(h.messages.empty());
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->TimerInterval(kPoll), 700u);
}

}  // namespace
