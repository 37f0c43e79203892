#pragma once
// Helpers shared by the command behaviour tests.
#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "tests/support/harness.h"

namespace cmdtest {

using Frame = std::vector<uint8_t>;

inline Frame Write(uint8_t address, uint16_t reg, uint16_t value) {
  return qmtest::Request(address, 0x06, reg, value);
}

inline std::string Frames(const std::vector<Frame>& frames) {
  std::string out;
  for (const Frame& f : frames) out += qmtest::Hex(f) + "\n";
  return out;
}

// Times at which the requests since the last ClearWire went out, relative to the first one.
inline std::vector<uint64_t> Gaps(const qmtest::Harness& h) {
  std::vector<uint64_t> gaps;
  const auto& log = h.device.Log();
  for (size_t i = 1; i < log.size(); ++i) gaps.push_back(log[i].atMs - log[i - 1].atMs);
  return gaps;
}

// Points the window at `address`, in the member and in box 1061 (every data exchange reads it back).
inline void UseAddress(qmtest::Harness& h, uint8_t address) {
  h.dlg->m_bySlaveAddr = address;
  h.dlg->SetDlgItemText(1061, QString::number(address));
}

// The simulated line hands frames to the meter when it is next touched; a command whose last write
// reads no reply leaves that frame on the line until then.
inline void Settle(qmtest::Harness& h) { h.device.BytesWaiting(); }

inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Checks `check` whenever a message box appears, and captures the box as the harness does.
class MessageProbe {
 public:
  explicit MessageProbe(std::function<void(const QString&)> check) {
    fw::SetMessageBoxHook([check](const QString& text) {
      check(text);
      return Capture(text);
    });
  }
  ~MessageProbe() { fw::SetMessageBoxHook(Capture); }

 private:
  static int Capture(const QString& text) {
    qmtest::Messages().push_back(text);
    if (qmtest::Harness* h = qmtest::CurrentHarness()) h->messages.push_back(text);
    return fw::IDOK;
  }
};

}  // namespace cmdtest
