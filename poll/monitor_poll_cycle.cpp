// The poll timer and the run/stop button: one poll cycle per tick of timer 1.
#include <algorithm>
#include <span>

#include "meter/analog.h"
#include "meter/codes.h"
#include "meter/registers.h"
#include "poll/analog_readout.h"
#include "poll/settings_block.h"
#include "text/text_format.h"
#include "ui/monitor_dlg.h"
#include "ui/monitor_ids.h"

namespace {

namespace ids = qm::ui::monitor_ids;
namespace meter = qm::meter;

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

// Selects `index` in `combo` when the list has that item, else leaves the list without a selection.
void SelectOrNone(fw::CComboBox& combo, long long index) {
  if (!combo.Widget()) return;
  combo.SetCurSel(qm::text::ListIndexOrNone(index, combo.GetCount()));
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
    SetDlgItemText(ids::kRunStop, QStringLiteral("停止"));
  } else {
    KillTimer(kPollTimer);
    SetDlgItemText(ids::kRunStop, QStringLiteral("运行"));
  }
}

void CMonitorDlg::RunPollCycle() {
  using qm::link::kFnReadHolding;
  using qm::link::ReplyMode;
  namespace poll = qm::poll;

  if (!m_bIdentified) {
    Identify();
    m_bIdentified = 1;  // once per start, answered or not
  }

  // Settings block.
  qm::link::ExchangeResult r = Exchange(m_bySlaveAddr, kFnReadHolding, meter::kSettingsAddress,
                                        meter::kSettingsWords, m_nShortWait, ReplyMode::Check);
  if (r.Ok()) {
    std::copy_n(r.Data().begin(), meter::kSettingsBytes, m_settings.begin());
    const poll::SettingsValues v =
        poll::ParseSettings(std::span<const uint8_t, meter::kSettingsBytes>(m_settings), m_nEnergyMul);
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
    SetDlgItemText(ids::kSettingsCount,
                   QString::fromStdString(poll::SettingsCountText(m_nGoodSettings, m_nPowerDir)));
    SetDlgItemText(ids::kDiagnostic, QString::fromStdString(poll::SettingsDiagnosticText(v)));
    SetDlgItemText(ids::kAccuracy, QString::fromStdString(meter::AccuracyCaption(m_byAccuracy)));
  }

  // The analog pair of the selected entry, one word each.
  const uint8_t code = m_byAnalogSel;
  const meter::AnalogReadPair pair = meter::AnalogReadAddresses(code);
  r = Exchange(m_bySlaveAddr, kFnReadHolding, pair.first, 1, m_nShortWait, ReplyMode::Check);
  if (r.Ok()) {
    m_analogFirst = {r.Data()[0], r.Data()[1]};
    m_analogFirstCode = code;
  } else if (m_analogFirstCode != code) {
    // A value kept from another entry would be shown under this one's unit.
    m_analogFirst = {0, 0};
    m_analogFirstCode = code;
  }
  QString readout;
  r = Exchange(m_bySlaveAddr, kFnReadHolding, pair.second, 1, m_nShortWait, ReplyMode::Check);
  if (r.Ok())
    readout = FormatAnalogSetting(code, m_analogFirst[0], m_analogFirst[1], r.Data()[0], r.Data()[1]);

  const poll::ReadoutRow row = poll::MakeReadoutRow(code, readout.toStdString());
  SelectOrNone(m_cbUnit, row.unit);
  SetDlgItemText(ids::kLeftValue, QString::fromStdString(row.left));
  SetDlgItemText(ids::kRightValue, QString::fromStdString(row.right));

  // Measurement block; the display takes the data's position in the receive buffer.
  r = Exchange(m_bySlaveAddr, kFnReadHolding, meter::kMeasurementAddress, meter::kMeasurementWords,
               m_nLongWait, ReplyMode::Check);
  if (r.Ok()) ShowMeasurements(static_cast<int16_t>(r.index + r.dataOffset));
}
