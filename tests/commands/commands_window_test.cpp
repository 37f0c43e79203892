// The configuration commands on a real window against the simulated meter: the requests with their
// waits, the messages shown, the window's state and the meter's memory afterwards.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/harness.h"

namespace {

using Frames = std::vector<std::vector<uint8_t>>;
using Texts = std::vector<QString>;
using qm::sim::Fault;

constexpr int kPoll = CMonitorDlg::kPollTimer;
constexpr int kSel = 1088, kLeft = 1022, kRight = 1023, kWrite = 1059, kInput = 1060;
constexpr int kPT = 1000, kCT = 1001, kAddr = 1000;  // the edits of the two dialogs

std::vector<uint8_t> W(uint8_t at, uint16_t reg, uint16_t v) { return qmtest::Request(at, 6, reg, v); }

// A window pointed at the meter's address (the member and box 1061, which "写入" reads back), polling
// off, the wire log empty.
struct Commands : ::testing::Test {
  qmtest::Harness h;
  explicit Commands(qm::link::LinkSettings link = {}, qm::sim::MeterConfig meter = {}) : h(link, meter) {
    h.dlg->m_bySlaveAddr = h.meter.Address();
    h.dlg->SetDlgItemText(1061, QString::number(h.meter.Address()));
    h.ClearWire();
  }
  // The requests since the last ClearWire, each `waitMs` after the one before.
  void ExpectWire(const Frames& frames, uint64_t waitMs) const {
    EXPECT_EQ(h.Requests(), frames);
    const auto& log = h.device.Log();
    for (size_t i = 1; i < log.size(); ++i) EXPECT_EQ(log[i].atMs - log[i - 1].atMs, waitMs) << i;
  }
  // Answers the next dialog: texts into its boxes, a radio button, then `button`. Polling is off by then.
  void Answer(std::vector<std::pair<int, const char*>> texts, int radio = 0, int button = fw::IDOK) {
    qmtest::QueueModal([=, this](fw::CDialog& d) {
      EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
      for (const auto& [id, text] : texts) d.SetDlgItemText(id, text);
      if (radio) {
        d.Click(radio);
        EXPECT_TRUE(d.IsDlgButtonChecked(radio)) << "the button clicked shows checked";
      }
      d.Click(button);
      return d.Result();
    });
  }
  // "输入", pick `code` (none when negative), type the two values, "写入".
  void Analog(int code, const char* left, const char* right) {
    h.dlg->Click(kInput);
    if (code < 0) h.dlg->m_cbAnalogSel.SetCurSel(fw::CComboBox::CB_ERR);  // text typed into the list
    h.dlg->SelectComboItem(kSel, code);
    h.dlg->SetDlgItemText(kLeft, left);
    h.dlg->SetDlgItemText(kRight, right);
    h.dlg->Click(kWrite);
  }
  // The user opens the list (which stops polling) and picks `code`.
  void Select(int code) {
    h.dlg->DropDownCombo(kSel);
    h.dlg->SelectComboItem(kSel, code);
  }
  bool RowOpen() const {
    return h.dlg->m_byInputMode == 1 && !h.dlg->m_edLeft.IsReadOnly() && !h.dlg->m_edRight.IsReadOnly() &&
           h.dlg->m_cbUnit.IsWindowEnabled();
  }
};

// Buttons 1009 (accuracy) and 1092 (factory init) are hidden: their handlers run as a message runs them.
TEST_F(Commands, EveryCommandStopsPollingFirstAndRestartsItLast) {
  const std::tuple<const char*, int, std::function<void()>> commands[] = {
      // name, dialog's button, run
      {"meter set", fw::IDOK, [this] { h.dlg->Click(1006); }},
      {"slave address", fw::IDOK, [this] { h.dlg->Click(1007); }},
      {"port settings", fw::IDCANCEL, [this] { h.dlg->Click(1004); }},
      {"energy reset", 0, [this] { h.dlg->Click(1071); }},
      {"power reversal", 0, [this] { h.dlg->Click(1010); }},
      {"accuracy", 0, [this] { h.dlg->RunHandler([this] { h.dlg->OnChangePrecision(); }); }},
      {"factory init", 0, [this] { h.dlg->RunHandler([this] { h.dlg->OnFactoryInit(); }); }},
      {"analog selection", 0, [this] { Select(2); }},
      {"analog write", 0, [this] { Analog(2, "0", "1"); }},
  };
  for (const auto& [name, button, run] : commands) {
    if (button) Answer({}, 0, button);
    run();
    EXPECT_EQ(h.dlg->TimerInterval(kPoll), 700u) << name;  // 0 when stopped
    // Unplugged, the first exchange fails with a message and ends the command where it stands.
    h.device.Unplug();
    h.messages.clear();
    if (button) Answer({}, 0, button);
    run();
    EXPECT_EQ(h.dlg->TimerInterval(kPoll), 0u) << name;
    EXPECT_EQ(h.messages.size(), 1u) << name;
    h.dlg->m_comm.SetPortOpen(true);
  }
}

// Each wiring radio button stands for its own code.
TEST_F(Commands, MeterSetWritesPtCtAndWiringAndReportsEachUnconfirmedWrite) {
  // Faults on the three writes, the wiring code picked, the messages.
  const struct {
    std::vector<Fault> faults;
    uint16_t wiring;
    Texts said;
  } cases[] = {
      {{}, 0, {}},
      {{Fault::Silence, Fault::Silence, Fault::Silence},
       1,
       {QString("设置PT不成功"), QString("设置CT不成功"), QString("设置接线方式不成功")}},
      {{Fault::None, Fault::BadCrc, Fault::WrongAddress},
       2,
       {QString("设置CT不成功"), QString("设置接线方式不成功")}},
      {{}, 3, {}},
      {{}, 4, {}},
      {{}, 5, {}},
  };
  for (const auto& [faults, wiring, said] : cases) {
    h.messages.clear();
    h.ClearWire();
    for (Fault f : faults) h.meter.InjectFault(f, 1);
    Answer({{kPT, "64000"}, {kCT, "200"}}, 1009 + wiring);
    h.dlg->Click(1006);
    ExpectWire({W(1, 0x030E, 64000), W(1, 0x0312, 200), W(1, 0x0002, wiring)}, 200);
    EXPECT_EQ(h.messages, said);
  }
}

TEST_F(Commands, DialogsRefuseRatiosAndAddressesOutOfRange) {
  const std::tuple<int, int, const char*> cases[] = {
      {1006, kPT, "0"}, {1006, kCT, "64001"}, {1007, kAddr, "256"}};
  for (const auto& [button, edit, text] : cases) {
    Answer({{edit, text}});  // refused, the dialog stays open and the script ends it with Cancel
    h.dlg->Click(button);
  }
  EXPECT_EQ(h.messages.size(), 3u);
  EXPECT_TRUE(h.Requests().empty());
}

// The dialog opens on the current address; 0 is an address like any other.
TEST_F(Commands, SlaveAddressGoesOutThroughTheOldOneAndTheWindowFollows) {
  const std::tuple<Fault, const char*, uint8_t, uint8_t> cases[] = {{Fault::None, "5", 1, 5},
                                                                    {Fault::Silence, "0", 5, 0}};
  for (const auto& [fault, text, from, to] : cases) {
    h.meter.InjectFault(fault, 1);
    h.ClearWire();
    // Named before the capture: clang 14 cannot capture a structured binding.
    const char* typed = text;
    qmtest::QueueModal([from = from, typed](fw::CDialog& d) {
      EXPECT_EQ(d.GetDlgItemText(kAddr), QString::number(from));
      d.SetDlgItemText(kAddr, typed);
      d.Click(fw::IDOK);
      return d.Result();
    });
    h.dlg->Click(1007);
    EXPECT_EQ(h.Requests(), Frames{W(from, 0x0000, to)});
    EXPECT_EQ(h.dlg->m_bySlaveAddr, to);
    EXPECT_EQ(h.Text(1061), text);
  }
  EXPECT_TRUE(h.messages.empty());
}

TEST_F(Commands, EnergyResetWritesFourTimes300MsApart) {
  for (Fault f : {Fault::None, Fault::Silence}) {  // no reply is read: silence is not reported
    h.meter.InjectFault(f, 4);
    h.ClearWire();
    h.dlg->Click(1071);
    ExpectWire({W(1, 0x0004, 1), W(1, 0x001A, 0), W(1, 0x001C, 0), W(1, 0x0004, 0)}, 300);
  }
  EXPECT_TRUE(h.messages.empty());
}

// What a poll cycle read from the settings block feeds the commands that follow: the power direction,
// the accuracy class and the meter settings dialog's preset, written back unchanged on OK. Neither
// the power reversal nor a toggle the meter does not confirm changes what was read.
TEST(SettingsRead, FeedsPowerReversalAccuracyAndMeterSettings) {
  qmtest::Harness h({}, {.pt = 400, .ct = 300, .wiring = 4, .accuracy = 1, .direction = 1});
  h.dlg->SetDlgItemText(1061, "1");
  h.dlg->Click(1063);
  h.Tick();
  EXPECT_EQ(h.Text(1009), QString("0.2级"));
  h.ClearWire();
  h.dlg->Click(1010);  // reversed: back to normal
  h.meter.InjectFault(Fault::Silence, 1);
  h.dlg->Click(1010);  // no settings read in between: the same value again, unconfirmed
  h.Tick();            // the next cycle reads the direction the meter now has
  h.dlg->Click(1010);
  const auto toggle = [&h] { h.dlg->RunHandler([&h] { h.dlg->OnChangePrecision(); }); };
  toggle();  // class 0.2 to 0.5
  h.meter.InjectFault(Fault::Silence, 1);
  toggle();  // unconfirmed: stays 0.5
  qmtest::QueueModal([](fw::CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(kPT), "400");
    EXPECT_EQ(d.GetDlgItemText(kCT), "300");
    EXPECT_TRUE(d.IsDlgButtonChecked(1013)) << "单相3线";
    d.Click(fw::IDOK);
    return d.Result();
  });
  h.dlg->Click(1006);
  Frames writes;
  for (const auto& r : h.Requests())
    if (r[1] == 0x06) writes.push_back(r);
  EXPECT_EQ(writes, (Frames{W(1, 0x0026, 0), W(1, 0x0026, 0), W(1, 0x0026, 1), W(1, 0x0022, 0),
                            W(1, 0x0022, 1), W(1, 0x030E, 400), W(1, 0x0312, 300), W(1, 0x0002, 4)}));
  EXPECT_EQ(h.messages, (Texts{QString("功率反相成功"), QString("功率反相不成功"), QString("功率反相成功")}));
  EXPECT_EQ(h.Text(1009), QString("0.5级"));
  EXPECT_EQ(h.dlg->m_byAccuracy, 0);
}

// A meter at address 7 with settings of its own, on port 3 at 19200 baud, even parity.
struct FactoryInit : Commands {
  FactoryInit()
      : Commands({.parity = qm::link::Parity::Even, .baud = 19200, .port = 3},
                 {.address = 7,
                  .baud = 19200,
                  .parity = qm::link::Parity::Even,
                  .pt = 100,
                  .ct = 50,
                  .wiring = 3}) {}
};

TEST_F(FactoryInit, EightWritesToTheOldAddressTheNinthToAddressOne) {
  h.dlg->RunHandler([this] { h.dlg->OnFactoryInit(); });
  // Each waits the short wait in force when it started.
  ExpectWire({W(7, 0x0022, 1), W(7, 0x000E, 1), W(7, 0x0012, 1), W(7, 0x0002, 0), W(7, 0x0004, 1),
              W(7, 0x001A, 0), W(7, 0x001C, 0), W(7, 0x0000, 1), W(1, 0x0008, 3)},
             150);
  EXPECT_EQ(h.messages, Texts{QString("仪表初始设置成功!")});
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), "9600,N,8,2");
  // The records follow the open port.
  EXPECT_EQ(h.dlg->m_nPort, 3);
  EXPECT_EQ(h.dlg->m_nParity, qm::link::Parity::None);
  EXPECT_EQ(h.dlg->m_nBaud, 9600);
  EXPECT_EQ(h.Text(1057), QString("串行口: 3 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验"));
}

TEST_F(FactoryInit, SilentMeterStillMovesTheWindowToAddressOneAt9600N82) {
  h.meter.InjectFault(Fault::Silence, 9);
  h.dlg->RunHandler([this] { h.dlg->OnFactoryInit(); });
  EXPECT_EQ(h.messages, Texts{QString("仪表初始设置不成功!")});
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
  EXPECT_EQ(h.device.Line(), (qm::link::LineSettings{9600, qm::link::Parity::None, 8, 2}));
  EXPECT_EQ(h.dlg->m_nParity, qm::link::Parity::Even) << "the records stay as they were";
}

// A line that lets only the first byte of the reply to the baud write through, as when the meter
// already answers at its new speed.
struct FirstByteOfTheBaudEcho : qm::sim::SimSerialDevice {
  using SimSerialDevice::SimSerialDevice;
  bool BaudWrite() const {
    return !Log().empty() && Log().back().bytes[1] == 6 && Log().back().bytes[3] == 8;
  }
  int BytesWaiting() override {
    return BaudWrite() ? std::min(SimSerialDevice::BytesWaiting(), 1) : SimSerialDevice::BytesWaiting();
  }
  std::vector<uint8_t> ReadAll() override {
    std::vector<uint8_t> r = SimSerialDevice::ReadAll();
    if (BaudWrite() && r.size() > 1) r.resize(1);
    return r;
  }
};

TEST(FactoryInitReply, AnyByteBackCountsAsSuccess) {
  qm::sim::VirtualClock clock;
  qm::sim::SimMeter meter(qm::sim::MeterConfig{});
  FirstByteOfTheBaudEcho line(meter, clock);
  CMonitorDlg dlg(line, clock);
  dlg.Create();
  qmtest::Messages().clear();
  dlg.RunHandler([&] { dlg.OnFactoryInit(); });
  EXPECT_EQ(qmtest::Messages(), Texts{QString("仪表初始设置成功!")});
}

// A meter at address 7 on the presets' line, which still answers once the port runs 9600,N,8,2.
struct FactoryInitThenPoll : Commands {
  FactoryInitThenPoll() : Commands({}, {.address = 7}) {}
};

TEST_F(FactoryInitThenPoll, PollingStaysAtAddressOneWhetherOrNotTheLastWriteWasAnswered) {
  for (Fault last : {Fault::Silence, Fault::None}) {
    h.meter.SetByte(0x0301, 7);  // back at address 7, the window with it
    h.dlg->m_bySlaveAddr = 7;
    h.dlg->SetDlgItemText(1061, "7");
    h.meter.ClearFaults();
    h.meter.InjectFault(Fault::None, 8);
    h.meter.InjectFault(last, 1);
    h.dlg->RunHandler([this] { h.dlg->OnFactoryInit(); });
    EXPECT_EQ(h.Text(1061), "1");

    // Each cycle ends by reading box 1061 back into the address: both must ask address 1.
    const uint32_t goodSettings = h.dlg->m_nGoodSettings;
    h.ClearWire();
    h.Tick(2);
    const Frames sent = h.Requests();
    ASSERT_FALSE(sent.empty());
    for (const auto& f : sent) EXPECT_EQ(f[0], 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), qmtest::Request(1, 3, 0x0000, 41)), 2);
    EXPECT_EQ(h.dlg->m_nGoodSettings, goodSettings + 2) << "the meter answered both cycles";
    EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
  }
  EXPECT_EQ(h.messages, (Texts{QString("仪表初始设置不成功!"), QString("仪表初始设置成功!")}));
}

TEST_F(Commands, AnalogRowWritesSelectionRightLeft300MsApart) {
  const std::tuple<int, const char*, const char*, Frames> cases[] = {
      {1, "0", "220", {W(1, 0x0030, 1), W(1, 0x0060, 22000), W(1, 0x03A0, 0)}},
      {4, "45", "65", {W(1, 0x0030, 4), W(1, 0x0066, 60854), W(1, 0x03A6, 42129)}},
      {34, "-5", "7", {W(1, 0x0030, 34), W(1, 0x0034, 7), W(1, 0x0336, 0xFFFB)}},
      {35, "  / ", "500", {W(1, 0x0030, 35), W(1, 0x0032, 500)}},  // no left value
      {0, "12", "99999999", {W(1, 0x0030, 0)}},                    // "无": the selection only
  };
  for (Fault f : {Fault::None, Fault::Silence}) {  // no reply is judged: silence is not reported
    for (const auto& [code, left, right, writes] : cases) {
      h.meter.ClearFaults();
      h.meter.InjectFault(f, 3);
      h.ClearWire();
      Analog(code, left, right);
      ExpectWire(writes, 300);
      EXPECT_FALSE(RowOpen()) << code;
    }
  }
  EXPECT_TRUE(h.messages.empty());
  h.ClearWire();
  Select(10);  // outside input mode the selection goes out at once, "无" too
  Select(0);
  EXPECT_EQ(h.Requests(), (Frames{W(1, 0x0030, 10), W(1, 0x0030, 0)}));
}

TEST_F(Commands, AnalogWriteWithoutAValidValueOrItemSendsNothing) {
  // A value that 16 bits cannot hold, or a negative voltage, keeps the row open for correction;
  // without a list item the row closes.
  const std::tuple<int, const char*, Texts, bool> cases[] = {{1, "656", {QString("输入数值超出范围")}, true},
                                                             {1, "-1", {QString("输入数值超出范围")}, true},
                                                             {-1, "220", {}, false}};
  for (const auto& [code, right, messages, open] : cases) {
    h.messages.clear();
    Analog(code, "0", right);
    EXPECT_TRUE(h.Requests().empty()) << code;
    EXPECT_EQ(h.messages, messages) << code;
    EXPECT_EQ(RowOpen(), open) << code;
    EXPECT_EQ(h.dlg->IsTimerRunning(kPoll), !open) << code;
  }
}

}  // namespace
