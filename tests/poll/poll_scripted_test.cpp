// The poll cycle against a scripted line: replies the simulated meter would never give, and ticks
// arriving while a cycle waits in a message box.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "framework/dialog.h"
#include "link/crc16.h"
#include "sim/sim_meter.h"
#include "sim/virtual_clock.h"
#include "tests/poll/window_util.h"
#include "ui/monitor_dlg.h"

namespace {

using polltest::AddressOf;
using polltest::QuantityOf;
using polltest::RegisterOf;
using polltest::StartPolling;
using qmtest::Harness;

// A line whose replies a test function makes up; they are waiting as soon as the request is sent.
class ScriptedDevice : public qm::SerialDevice {
 public:
  std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> respond;
  std::vector<std::vector<uint8_t>> sent;

  void Open(const std::string&, const qm::LineSettings&) override { open_ = true; }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  void Apply(const qm::LineSettings&) override {}
  void Write(const std::vector<uint8_t>& bytes) override {
    sent.push_back(bytes);
    if (respond) {
      const std::vector<uint8_t> reply = respond(bytes);
      pending_.insert(pending_.end(), reply.begin(), reply.end());
    }
  }
  int BytesWaiting() override { return static_cast<int>(pending_.size()); }
  std::vector<uint8_t> ReadAll() override { return std::exchange(pending_, {}); }
  void DiscardInput() override { pending_.clear(); }

 private:
  bool open_ = false;
  std::vector<uint8_t> pending_;
};

void FixCrc(std::vector<uint8_t>& frame) {
  const uint16_t crc = qm::CalcCrc16(frame.data(), static_cast<int16_t>(frame.size() - 2));
  frame[frame.size() - 2] = static_cast<uint8_t>(crc >> 8);
  frame[frame.size() - 1] = static_cast<uint8_t>(crc & 0xFF);
}

// A window on a scripted line, initialised like the program's.
struct ScriptedWindow {
  qm::sim::VirtualClock clock;
  ScriptedDevice device;
  CMonitorDlg dlg{device, clock};
  ScriptedWindow() { dlg.Create(); }
};

TEST(PollScripted, NewAddressInSettingsRedirectsTheRestOfTheCycle) {
  // The meter at address 5 reports address 9 in its settings block and answers 9 from then on.
  qm::sim::SimMeter meter({.address = 9});
  meter.Freeze(true);
  meter.SetMeasurementWord(0, 22000);
  ScriptedWindow w;
  const qm::LineSettings line{};
  w.device.respond = [&](const std::vector<uint8_t>& req) {
    if (req[0] == 5 && RegisterOf(req) == 0x0300 && QuantityOf(req) == 26) {
      std::vector<uint8_t> asked = req;
      asked[0] = 9;
      FixCrc(asked);
      std::vector<uint8_t> reply = meter.Handle(asked, line).bytes;
      reply[0] = 5;
      FixCrc(reply);
      return reply;
    }
    return meter.Handle(req, line).bytes;
  };
  w.dlg.SetDlgItemText(1061, QStringLiteral("5"));
  w.dlg.Click(1063);
  w.dlg.DeliverTimer(CMonitorDlg::kPollTimer);
  std::vector<int> addresses;
  for (const auto& r : w.device.sent) addresses.push_back(AddressOf(r));
  EXPECT_EQ(addresses, (std::vector<int>{5, 5, 9, 9, 9}));
  EXPECT_EQ(w.dlg.GetDlgItemText(1001), QStringLiteral("220.00 V"));
}

TEST(PollScripted, RandomRepliesNeverCrashOrShowUnvalidatedData) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> byte(0, 255), len(0, 700), kind(0, 3);
  ScriptedWindow w;
  w.device.respond = [&](const std::vector<uint8_t>&) {
    std::vector<uint8_t> junk(static_cast<size_t>(len(rng)));
    for (auto& b : junk) b = static_cast<uint8_t>(byte(rng));
    // Frequent address/function pairs give the search candidates to check, with bad CRCs.
    for (size_t k = 0; k + 1 < junk.size(); k += 13) {
      junk[k] = 0x01;
      junk[k + 1] = 0x03;
    }
    return junk;
  };
  w.dlg.SetDlgItemText(1061, QStringLiteral("1"));
  w.dlg.Click(1063);
  for (int i = 0; i < 2000; ++i) w.dlg.DeliverTimer(CMonitorDlg::kPollTimer);
  // No frame passed its CRC (odds of a random match are far below one in this run): nothing shown.
  EXPECT_EQ(w.dlg.GetDlgItemText(1001), QString());
  EXPECT_EQ(w.dlg.m_nGoodSettings, 0u);
  EXPECT_EQ(w.dlg.GetWindowText(), QStringLiteral("QM7410智能电力监测仪-------Korvath"));
  EXPECT_EQ(w.device.sent.size(), 1u + 4u * 2000u);
}

TEST(PollScripted, ValidFramesWithHostileContentAreShownSafely) {
  // Every byte 0xFF: analog selection 255, accuracy 255, energy decade 255, PT and CT 65535.
  ScriptedWindow w;
  w.device.respond = [](const std::vector<uint8_t>& req) {
    const int n = 2 * QuantityOf(req);
    std::vector<uint8_t> reply{req[0], 0x03, static_cast<uint8_t>(n)};
    reply.insert(reply.end(), static_cast<size_t>(n), uint8_t{0xFF});
    reply.resize(reply.size() + 2);
    FixCrc(reply);
    return reply;
  };
  w.dlg.SetDlgItemText(1061, QStringLiteral("255"));
  w.dlg.Click(1063);
  w.dlg.DeliverTimer(CMonitorDlg::kPollTimer);
  w.dlg.DeliverTimer(CMonitorDlg::kPollTimer);
  EXPECT_EQ(w.dlg.m_bySlaveAddr, 255);
  EXPECT_EQ(w.dlg.m_cbAnalogSel.GetCurSel(), -1);
  EXPECT_EQ(w.dlg.GetDlgItemText(1009), QString());
  EXPECT_EQ(w.dlg.GetDlgItemText(1021), QStringLiteral("65535,255,255,255,255"));
  EXPECT_EQ(w.dlg.GetDlgItemText(1022), QString());
  EXPECT_EQ(w.dlg.GetWindowText(), QStringLiteral("VM65535智能电力监测仪------Velmora(6.5.53版)"));
  EXPECT_EQ(w.dlg.GetDlgItemText(1001), QStringLiteral("42948.36 KV"));
  EXPECT_FALSE(w.dlg.GetDlgItemText(1056).isEmpty());
}

// Message boxes are captured as the shared test environment does, and the first one also runs
// `inside` while it is "shown". The capture is put back when the test ends.
class BoxHook {
 public:
  explicit BoxHook(std::function<void()> inside) : inside_(std::move(inside)) {
    fw::SetMessageBoxHook([this](const QString& text) {
      Capture(text);
      if (boxes_++ == 0 && inside_) inside_();
      return fw::IDOK;
    });
  }
  ~BoxHook() { fw::SetMessageBoxHook(&BoxHook::Capture); }
  int boxes() const { return boxes_; }

 private:
  static int Capture(const QString& text) {
    qmtest::Messages().push_back(text);
    if (Harness* h = qmtest::CurrentHarness()) h->messages.push_back(text);
    return fw::IDOK;
  }
  std::function<void()> inside_;
  int boxes_ = 0;
};

TEST(PollReentry, TickDuringValidationMessageStartsNoSecondCycle) {
  Harness h;
  StartPolling(h);
  h.Tick();
  h.dlg->SetDlgItemText(1061, QStringLiteral("300"));  // rejected by the data exchange
  h.ClearWire();
  size_t sentBeforeBox = 0, sentAfterTicks = 0;
  BoxHook hook([&] {
    sentBeforeBox = h.Requests().size();
    h.dlg->DeliverTimer(CMonitorDlg::kPollTimer);  // the timer falls due while the box is up
    h.dlg->DeliverTimer(CMonitorDlg::kScanTimer);
    h.dlg->OnTimer(CMonitorDlg::kPollTimer);  // even straight into the handler
    h.dlg->OnTimer(CMonitorDlg::kScanTimer);
    sentAfterTicks = h.Requests().size();
  });
  h.Tick();
  ASSERT_GE(hook.boxes(), 1);
  EXPECT_EQ(sentBeforeBox, 4u) << "the box comes from the display step, after the four reads";
  EXPECT_EQ(sentAfterTicks, sentBeforeBox) << "no exchange started inside the box";
  EXPECT_FALSE(h.dlg->m_bTickRunning);
  // Afterwards polling goes on: the next tick runs a whole cycle at the address that stood.
  h.dlg->SetDlgItemText(1061, QStringLiteral("1"));
  const size_t before = h.Requests().size();
  h.Tick();
  EXPECT_EQ(h.Requests().size(), before + 4);
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
}

TEST(PollReentry, ScanTickDuringValidationMessageStartsNoSecondProbe) {
  Harness h({}, {.address = 200});
  h.dlg->SetDlgItemText(1061, QStringLiteral("abc"));
  h.dlg->Click(1062);
  size_t sentInside = 99;
  BoxHook hook([&] {
    h.dlg->DeliverTimer(CMonitorDlg::kScanTimer);
    h.dlg->OnTimer(CMonitorDlg::kScanTimer);
    h.dlg->OnTimer(CMonitorDlg::kPollTimer);
    sentInside = h.Requests().size();
  });
  h.ScanTick();
  ASSERT_GE(hook.boxes(), 1);
  EXPECT_EQ(sentInside, 0u);
  EXPECT_EQ(h.Text(1061), QStringLiteral("1"));
  // The probe of the interrupted tick went out afterwards, to address 1 only.
  ASSERT_GE(h.Requests().size(), 1u);
  EXPECT_EQ(AddressOf(h.Requests()[0]), 1);
}

TEST(PollReentry, ErrorInsideACycleReleasesTheGuard) {
  Harness h;
  StartPolling(h);
  h.Tick();
  h.device.Unplug();  // the next port operation fails and the dialog layer ends the handler
  h.Tick();
  EXPECT_FALSE(h.dlg->m_bTickRunning);
  EXPECT_EQ(h.messages.size(), 1u);
  h.Tick(2);  // the port now counts as closed: quiet cycles, no more boxes
  EXPECT_EQ(h.messages.size(), 1u);
}

}  // namespace
