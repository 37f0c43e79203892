#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include "link/crc16.h"

namespace qmtest {

Harness::Harness(qm::link::LinkSettings link, qm::sim::MeterConfig meterConfig)
    : meter(meterConfig), device(meter, clock) {
  dlg = std::make_unique<CMonitorDlg>(device, clock);
  // What the start-up copies in, in its order.
  dlg->m_nBaud = link.baud;
  dlg->m_nPort = link.port;
  dlg->m_nParity = link.parity;
  dlg->Create();
}

Harness::~Harness() {
  // A window made with Create() alone closes the way the framework closes any window, so its
  // OnDestroy (timer stop, port close) runs before the object goes.
  if (!dlg->IsDestroyed()) dlg->DestroyWindow();
  dlg.reset();
  EXPECT_EQ(PendingModals(), 0u) << "a queued modal script was never used";
}

std::vector<std::vector<uint8_t>> Harness::Requests() const {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& sent : device.Log()) out.push_back(sent.bytes);
  return out;
}

std::vector<uint8_t> Request(uint8_t address, uint8_t function, uint16_t reg, uint16_t word) {
  std::vector<uint8_t> frame{address,      function,           uint8_t(reg >> 8),
                             uint8_t(reg), uint8_t(word >> 8), uint8_t(word)};
  const uint16_t crc = qm::link::CalcCrc16(frame.data(), 6);  // first byte on the wire in the high half
  frame.insert(frame.end(), {uint8_t(crc >> 8), uint8_t(crc)});
  return frame;
}

void StartPolling(CMonitorDlg& dlg, int address) {
  dlg.SetDlgItemText(1061, QString::number(address));
  dlg.Click(1063);
}

void DestroyIfOpen(CMonitorDlg& dlg) {
  if (dlg.IsCreated() && !dlg.IsDestroyed()) dlg.DestroyWindow();
}

}  // namespace qmtest
