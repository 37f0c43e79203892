// The analog output row: input mode, selection changes and "写入".
#include "commands/analog_input.h"
#include "tests/commands/window_test_util.h"

namespace {

using cmdtest::Frames;
using cmdtest::Q;
using cmdtest::Write;
using qmtest::Harness;

constexpr int kPoll = CMonitorDlg::kPollTimer;
constexpr int kSelection = 1088, kLeft = 1022, kRight = 1023, kUnit = 1113, kWrite = 1059, kInput = 1060;

struct AnalogRow : ::testing::Test {
  Harness h;
  void SetUp() override {
    cmdtest::UseAddress(h, 1);
    h.ClearWire();
  }
  // "输入", pick `code`, type the two values, "写入".
  void Enter(int code, const char* left, const char* right) {
    h.dlg->Click(kInput);
    h.dlg->SelectComboItem(kSelection, code);
    h.dlg->SetDlgItemText(kLeft, left);
    h.dlg->SetDlgItemText(kRight, right);
    h.dlg->Click(kWrite);
  }
  bool ReadOnly(int id) const { return h.dlg->m_edLeft.Widget() && (id == kLeft ? h.dlg->m_edLeft : h.dlg->m_edRight).IsReadOnly(); }
  void ExpectRowClosedAndPolling() const {
    EXPECT_EQ(h.dlg->m_byInputMode, 0);
    EXPECT_TRUE(ReadOnly(kLeft));
    EXPECT_TRUE(ReadOnly(kRight));
    EXPECT_FALSE(h.dlg->m_cbUnit.IsWindowEnabled());
    EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
    EXPECT_EQ(h.dlg->TimerInterval(kPoll), 700u);
  }
};

TEST_F(AnalogRow, InputModeStopsPollingAndOpensTheRow) {
  h.dlg->SetTimer(kPoll, 700);
  ASSERT_TRUE(ReadOnly(kLeft));
  ASSERT_FALSE(h.dlg->m_cbUnit.IsWindowEnabled());
  h.dlg->Click(kInput);
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->m_byInputMode, 1);
  EXPECT_FALSE(ReadOnly(kLeft));
  EXPECT_FALSE(ReadOnly(kRight));
  EXPECT_TRUE(h.dlg->m_cbUnit.IsWindowEnabled());
  EXPECT_TRUE(h.Requests().empty());
}

TEST_F(AnalogRow, VoltageRangeGoesOutAsSelectionRightLeft) {
  Enter(1, "0", "220");
  const std::vector<cmdtest::Frame> expected{Write(1, 0x0030, 1), Write(1, 0x0060, 22000), Write(1, 0x03A0, 0)};
  EXPECT_EQ(h.Requests(), expected) << Frames(h.Requests());
  EXPECT_EQ(cmdtest::Gaps(h), (std::vector<uint64_t>{300, 300}));
  EXPECT_TRUE(h.messages.empty());
  EXPECT_EQ(h.meter.Byte(0x0331), 1);
  EXPECT_EQ(h.meter.Word(0x0360), 22000);
  EXPECT_EQ(h.meter.Word(0x03A0), 0);
  ExpectRowClosedAndPolling();
}

TEST_F(AnalogRow, SilentMeterIsNotReported) {
  h.meter.InjectFault(qm::sim::Fault::Silence, 3);
  Enter(2, "0", "380");
  EXPECT_EQ(h.Requests().size(), 3u);
  EXPECT_TRUE(h.messages.empty());
  ExpectRowClosedAndPolling();
}

TEST_F(AnalogRow, ConversionsByClassReachTheMeter) {
  struct Case {
    int code;
    uint32_t pt, ct;
    const char* left;
    const char* right;
    uint16_t rightReg, rightValue, leftReg, leftValue;
  };
  const Case cases[] = {
      {3, 1, 200, "0", "100", 0x0064, 5000, 0x03A4, 0},
      {4, 1, 1, "45", "65", 0x0066, 60854, 0x03A6, 42129},
      {29, 10, 20, "-800", "800", 0x0098, 10, 0x03D8, 0xFFF6},
      {33, 100, 100, "300", "100", 0x0034, 100, 0x0336, 300},
      {34, 1, 1, "-5", "7", 0x0034, 7, 0x0336, 0xFFFB},
  };
  for (const Case& c : cases) {
    h.dlg->m_nPT = c.pt;
    h.dlg->m_nCT = c.ct;
    h.ClearWire();
    Enter(c.code, c.left, c.right);
    const std::vector<cmdtest::Frame> expected{Write(1, 0x0030, static_cast<uint16_t>(c.code)),
                                               Write(1, c.rightReg, c.rightValue), Write(1, c.leftReg, c.leftValue)};
    EXPECT_EQ(h.Requests(), expected) << "code " << c.code << "\n" << Frames(h.Requests());
    EXPECT_EQ(h.meter.Byte(0x0331), c.code);
    EXPECT_EQ(h.meter.Word(static_cast<uint16_t>(c.rightReg < 0x100 ? 0x0300 + c.rightReg : c.rightReg)), c.rightValue);
    EXPECT_EQ(h.meter.Word(c.leftReg), c.leftValue);
  }
  EXPECT_TRUE(h.messages.empty());
}

TEST_F(AnalogRow, FixedValueHasNoLeftValue) {
  h.dlg->Click(kInput);
  h.dlg->SelectComboItem(kSelection, 35);
  EXPECT_TRUE(ReadOnly(kLeft)) << "selecting the fixed value closes the left box";
  EXPECT_FALSE(ReadOnly(kRight));
  h.dlg->SelectComboItem(kSelection, 2);
  EXPECT_TRUE(ReadOnly(kLeft)) << "it stays closed until input mode starts again";
  h.dlg->SelectComboItem(kSelection, 35);
  h.dlg->SetDlgItemText(kRight, "500");
  h.dlg->Click(kWrite);
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0030, 35), Write(1, 0x0032, 500)}));
  EXPECT_EQ(cmdtest::Gaps(h), (std::vector<uint64_t>{300}));
  cmdtest::Settle(h);
  EXPECT_EQ(h.meter.Word(0x0332), 500);
  ExpectRowClosedAndPolling();

  h.dlg->Click(kInput);
  EXPECT_FALSE(ReadOnly(kLeft));
}

TEST_F(AnalogRow, NoneWritesOnlyTheSelection) {
  const uint16_t before = h.meter.Word(0x035E);
  Enter(0, "123", "456");
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0030, 0)})) << Frames(h.Requests());
  cmdtest::Settle(h);
  EXPECT_EQ(h.meter.Byte(0x0331), 0);
  EXPECT_EQ(h.meter.Word(0x035E), before);
  ExpectRowClosedAndPolling();
}

TEST_F(AnalogRow, OutOfRangeValueSendsNothingAndKeepsTheRowOpen) {
  for (const char* right : {"656", "-328", "1e9"}) {
    h.messages.clear();
    Enter(1, "0", right);
    EXPECT_TRUE(h.Requests().empty()) << right << "\n" << Frames(h.Requests());
    EXPECT_EQ(h.messages, (std::vector<QString>{Q("输入数值超出范围")})) << right;
    EXPECT_EQ(h.dlg->m_byInputMode, 1);
    EXPECT_FALSE(ReadOnly(kLeft));
    EXPECT_FALSE(ReadOnly(kRight));
    EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  }
  // The left value is checked too, for the limits as well.
  h.messages.clear();
  Enter(33, "65536", "1");
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_EQ(h.messages.size(), 1u);

  // Corrected, it goes out.
  h.dlg->SetDlgItemText(kLeft, "65535");
  h.dlg->Click(kWrite);
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0030, 33), Write(1, 0x0034, 1), Write(1, 0x0336, 65535)}));
  ExpectRowClosedAndPolling();
}

TEST_F(AnalogRow, TypedSelectionTextSendsNothingButClosesTheRow) {
  h.dlg->Click(kInput);
  h.dlg->m_cbAnalogSel.SetCurSel(fw::CComboBox::CB_ERR);
  h.dlg->SetDlgItemText(kSelection, "Ua?");
  ASSERT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), fw::CComboBox::CB_ERR);
  h.dlg->SetDlgItemText(kRight, "220");
  h.dlg->Click(kWrite);
  EXPECT_TRUE(h.Requests().empty()) << Frames(h.Requests());
  EXPECT_TRUE(h.messages.empty());
  ExpectRowClosedAndPolling();
}

TEST_F(AnalogRow, InvalidSlaveAddressBoxSendsNothingAndKeepsTheRowOpen) {
  h.dlg->Click(kInput);
  h.dlg->SelectComboItem(kSelection, 1);
  h.dlg->SetDlgItemText(kRight, "220");
  h.dlg->SetDlgItemText(1061, "300");
  h.dlg->Click(kWrite);
  EXPECT_TRUE(h.Requests().empty()) << Frames(h.Requests());
  EXPECT_EQ(h.messages.size(), 1u) << "the framework names the range of box 1061";
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
  EXPECT_EQ(h.dlg->m_byInputMode, 1);
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));

  h.dlg->SetDlgItemText(1061, "1");
  h.dlg->Click(kWrite);
  EXPECT_EQ(h.Requests().size(), 3u);
  ExpectRowClosedAndPolling();
}

TEST_F(AnalogRow, SelectionChangeOutsideInputModeWritesAtOnce) {
  h.dlg->SelectComboItem(kSelection, 10);
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0030, 10)}));
  cmdtest::Settle(h);
  EXPECT_EQ(h.meter.Byte(0x0331), 10);
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->TimerInterval(kPoll), 700u);
  EXPECT_TRUE(h.messages.empty());
}

TEST_F(AnalogRow, SelectionChangeInInputModeWaitsForWrite) {
  h.dlg->Click(kInput);
  h.dlg->SelectComboItem(kSelection, 33);
  h.dlg->SelectComboItem(kSelection, 34);
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  h.dlg->SetDlgItemText(kLeft, "300");
  h.dlg->SetDlgItemText(kRight, "100");
  h.dlg->Click(kWrite);
  ASSERT_FALSE(h.Requests().empty());
  EXPECT_EQ(h.Requests().front(), Write(1, 0x0030, 34));
}

TEST_F(AnalogRow, OpeningTheListStopsPollingAndClosingItDoesNotRestartIt) {
  h.dlg->SetTimer(kPoll, 700);
  h.dlg->DropDownCombo(kSelection);
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_TRUE(h.Requests().empty());
}

TEST(AnalogRowRoundTrip, WriteOutsideInputModeSendsBackWhatThePollShowed) {
  Harness h({}, {.pt = 100, .analogSelection = 1});
  cmdtest::UseAddress(h, 1);
  h.dlg->SetTimer(kPoll, 700);
  h.Tick();
  ASSERT_EQ(h.dlg->m_nPT, 100u);
  ASSERT_EQ(h.Text(kRight), "22000") << "the poll did not fill the row";
  h.ClearWire();
  h.dlg->Click(kWrite);
  // 22000 V on a PT of 100 is the meter's own 22000 again.
  const std::vector<cmdtest::Frame> expected{Write(1, 0x0030, 1), Write(1, 0x0060, 22000), Write(1, 0x03A0, 0)};
  EXPECT_EQ(h.Requests(), expected) << Frames(h.Requests());
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
}

}  // namespace
