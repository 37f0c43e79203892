#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "framework/dialog.h"
#include "link/link_settings.h"
#include "sim/sim_meter.h"
#include "sim/sim_serial_device.h"
#include "sim/virtual_clock.h"
#include "tests/support/qt_env.h"
#include "ui/monitor_dlg.h"

namespace qmtest {

// One main window wired to a simulated meter on virtual time; the binary lists qt_env, which makes
// the QApplication, delivers timers by hand and captures message boxes and modal dialogs.
class Harness {
 public:
  // Constructs the window with `link` (what the start-up copies in) and runs its initialisation.
  explicit Harness(qm::link::LinkSettings link = {}, qm::sim::MeterConfig meter = {});
  ~Harness();

  qm::sim::VirtualClock clock;
  qm::sim::SimMeter meter;
  qm::sim::SimSerialDevice device;
  std::unique_ptr<CMonitorDlg> dlg;

  // Message boxes shown in this test, in order.
  std::vector<QString>& messages = Messages();

  // Delivers ticks of the poll timer (timer 1) or the scan timer (timer 2), as if each fell due now.
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) dlg->DeliverTimer(CMonitorDlg::kPollTimer);
  }
  void ScanTick(int n = 1) {
    for (int i = 0; i < n; ++i) dlg->DeliverTimer(CMonitorDlg::kScanTimer);
  }

  // The request frames written to the wire since the last ClearWire, oldest first.
  std::vector<std::vector<uint8_t>> Requests() const;
  void ClearWire() { device.ClearLog(); }
  QString Text(int id) const { return dlg->GetDlgItemText(id); }
};

// Polls the meter at `address`, as typing it into 子机地址 and pressing 运行 does.
void StartPolling(CMonitorDlg& dlg, int address);
// Ends a window a test left open, before what it was built on goes.
void DestroyIfOpen(CMonitorDlg& dlg);

// The 8-byte request as the protocol lays it out, for comparison with what crossed the wire.
std::vector<uint8_t> Request(uint8_t address, uint8_t function, uint16_t reg, uint16_t word);

}  // namespace qmtest
