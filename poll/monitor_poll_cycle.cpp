// The poll timer and the run/stop button: one poll cycle per tick of timer 1.
#include <span>

#include "poll/analog_readout.h"
#include "poll/measurements.h"
#include "poll/settings_block.h"
#include "poll/text_format.h"
#include "ui/monitor_dlg.h"

namespace {

constexpr int kEditLeft = 1022;
constexpr int kEditRight = 1023;
constexpr int kEditCount = 1079;
constexpr int kEditDiagnostic = 1021;
constexpr int kButtonAccuracy = 1009;
constexpr int kButtonRun = 1063;

// Marks a tick as running for as long as it lasts, also when an error ends it early.
class TickScope {
 public:
  explicit TickScope(bool& running) : running_(running) { running_ = true; }
  ~TickScope() { running_ = false; }
  TickScope(const TickScope&) = delete;
  TickScope& operator=(const TickScope&) = delete;

 private:
  bool& running_;
};

// True when `count` bytes starting at `index` lie inside the receive buffer.
bool InReceiveBuffer(int index, int count) { return index >= 0 && index + count <= qm::kReceiveSize; }

// Selects `index` in `combo` when the list has that item, else leaves the list without a selection.
void SelectOrNone(fw::CComboBox& combo, long long index) {
  if (!combo.Widget()) return;
  combo.SetCurSel(qm::poll::ListIndexOrNone(index, combo.GetCount()));
}

}  // namespace

void CMonitorDlg::OnTimer(int id) {
  // The dialog layer already holds ticks while a handler runs; this guard keeps a tick that slips in
  // anyway (a message loop inside a validation message) from starting a second cycle or probe.
  if ((id == kPollTimer || id == kScanTimer) && !m_bTickRunning) {
    TickScope scope(m_bTickRunning);
    if (id == kPollTimer)
      RunPollCycle();
    else
      ScanStep();
  }
  fw::CDialog::OnTimer(id);
}

void CMonitorDlg::OnRunStop() {
  KillTimer(kScanTimer);
  UpdateData(true);  // a typed slave address becomes the one polled; a bad entry keeps the old one
  m_bRun = !m_bRun;
  if (m_bRun) {
    SetTimer(kPollTimer, m_nPollInterval);
    SetDlgItemText(kButtonRun, QStringLiteral("停止"));
  } else {
    KillTimer(kPollTimer);
    SetDlgItemText(kButtonRun, QStringLiteral("运行"));
  }
}

void CMonitorDlg::RunPollCycle() {
  using qm::ReplyMode;
  namespace poll = qm::poll;

  if (!m_bIdentified) {
    Identify();
    m_bIdentified = 1;  // once per start, answered or not
  }

  // Settings block.
  qm::ExchangeResult r = Exchange(m_bySlaveAddr, qm::kFnReadHolding, poll::kSettingsAddress,
                                  poll::kSettingsQuantity, m_nShortWait, ReplyMode::Check);
  if (r.index >= 0 && InReceiveBuffer(r.index + 3, poll::kSettingsBytes)) {
    std::copy_n(m_rx.begin() + r.index + 3, poll::kSettingsBytes, m_settings.begin());
    const poll::SettingsValues v =
        poll::ParseSettings(std::span<const uint8_t, poll::kSettingsBytes>(m_settings), m_nEnergyMul);
    m_bySlaveAddr = v.slaveAddress;  // the rest of this cycle already asks the new address
    m_nPT = v.pt;
    m_nCT = v.ct;
    m_nEnergyMul = v.energyMultiplier;
    m_byWiring = v.wiring;
    m_byAccuracy = v.accuracy;
    m_nPowerDir = v.powerDirection;
    m_byAnalogSel = v.analogSelection;
    SelectOrNone(m_cbAnalogSel, m_byAnalogSel);
    m_nPowerScale = v.powerScale;
    ++m_nGoodSettings;
    SetDlgItemText(kEditCount, QString::fromStdString(poll::SettingsCountText(m_nGoodSettings, m_nPowerDir)));
    SetDlgItemText(kEditDiagnostic, QString::fromStdString(poll::SettingsDiagnosticText(v)));
    SetDlgItemText(kButtonAccuracy, QString::fromStdString(poll::AccuracyCaption(m_byAccuracy)));
  }

  // The analog pair of the selected entry.
  const uint8_t code = m_byAnalogSel;
  const poll::AnalogPairAddresses pair = poll::AnalogPairFor(code);
  r = Exchange(m_bySlaveAddr, qm::kFnReadHolding, pair.first, 1, m_nShortWait, ReplyMode::Check);
  if (r.index >= 0 && InReceiveBuffer(r.index + 3, 2)) {
    m_analogFirst = {m_rx[static_cast<size_t>(r.index + 3)], m_rx[static_cast<size_t>(r.index + 4)]};
    m_analogFirstCode = code;
  } else if (m_analogFirstCode != code) {
    // A value kept from another entry would be shown under this one's unit.
    m_analogFirst = {0, 0};
    m_analogFirstCode = code;
  }
  QString readout;
  r = Exchange(m_bySlaveAddr, qm::kFnReadHolding, pair.second, 1, m_nShortWait, ReplyMode::Check);
  if (r.index >= 0 && InReceiveBuffer(r.index + 3, 2))
    readout =
        FormatAnalogSetting(code, m_analogFirst[0], m_analogFirst[1], m_rx[static_cast<size_t>(r.index + 3)],
                            m_rx[static_cast<size_t>(r.index + 4)]);

  const poll::ReadoutRow row = poll::MakeReadoutRow(code, readout.toStdString());
  SelectOrNone(m_cbUnit, row.unit);
  SetDlgItemText(kEditLeft, QString::fromStdString(row.left));
  SetDlgItemText(kEditRight, QString::fromStdString(row.right));

  // Measurement block.
  r = Exchange(m_bySlaveAddr, qm::kFnReadHolding, poll::kMeasurementAddress, poll::kMeasurementQuantity,
               m_nLongWait, ReplyMode::Check);
  if (r.index >= 0) ShowMeasurements(static_cast<int16_t>(r.index + 3));
}
