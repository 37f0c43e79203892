// Energy reset, power reversal, accuracy class toggle and factory initialisation: fixed sequences of
// single-register writes without a dialog.
#include "commands/discard_input.h"
#include "commands/meter_writes.h"
#include "meter/codes.h"
#include "ui/monitor_dlg.h"
#include "ui/monitor_ids.h"
#include "ui/status_text.h"

namespace commands = qm::commands;
namespace ids = qm::ui::monitor_ids;
using qm::link::ReplyMode;

void CMonitorDlg::OnEnergyReset() {
  KillTimer(kPollTimer);
  for (const commands::RegisterWrite& w : commands::kEnergyResetWrites)
    WriteSingleRegister(w.reg, w.value, commands::kEnergyResetWaitMs, w.mode);
  SetTimer(kPollTimer, m_nPollInterval);
}

void CMonitorDlg::OnPowerReverse() {
  KillTimer(kPollTimer);
  // The flag itself follows the meter at the poll's next settings read.
  const uint16_t value = qm::meter::ReversedPowerDirection(m_nPowerDir);
  if (WriteSingleRegister(commands::kRegPowerDirection, value, m_nShortWait, ReplyMode::Check))
    fw::AfxMessageBox(QStringLiteral("功率反相成功"));
  else
    fw::AfxMessageBox(QStringLiteral("功率反相不成功"));
  commands::DiscardWaitingInput(m_comm);
  SetTimer(kPollTimer, m_nPollInterval);
}

void CMonitorDlg::OnChangePrecision() {
  KillTimer(kPollTimer);
  m_byAccuracy = qm::meter::ToggledAccuracy(m_byAccuracy);
  if (!WriteSingleRegister(commands::kRegAccuracy, m_byAccuracy, m_nShortWait, ReplyMode::Check))
    m_byAccuracy = qm::meter::ToggledAccuracy(m_byAccuracy);
  SetDlgItemText(ids::kAccuracy, QString::fromStdString(qm::meter::AccuracyCaption(m_byAccuracy)));
  SetTimer(kPollTimer, m_nPollInterval);
}

void CMonitorDlg::OnFactoryInit() {
  KillTimer(kPollTimer);
  // One wait for the whole sequence: the timing set in force when the command starts.
  const uint32_t wait = m_nShortWait;
  for (const commands::RegisterWrite& w : commands::kFactoryInitWrites)
    WriteRegister(w.reg, w.value, wait, w.mode);

  // The last write above moved the meter to address 1; so does the window, whatever comes back.
  m_bySlaveAddr = commands::kFactorySlaveAddress;
  const commands::RegisterWrite& baud = commands::kFactoryBaudWrite;
  const qm::link::ExchangeResult result = WriteRegister(baud.reg, baud.value, wait, baud.mode);

  if (result.received > 0) {
    fw::AfxMessageBox(QStringLiteral("仪表初始设置成功!"));
    // The records follow the port as it now runs: the same port, 9600 baud, no parity.
    SetLinkSettings({qm::link::Parity::None, commands::kFactoryBaud, m_comm.GetCommPort()});
    SetStatusText(QString::fromStdString(qm::ui::FactoryStatusText(GetLinkSettings())));
  } else {
    fw::AfxMessageBox(QStringLiteral("仪表初始设置不成功!"));
  }
  // The address box shows the new address in both outcomes: every later data exchange reads the
  // address back from it, and an old one left there would send polling to a slave that no longer
  // exists.
  SetDlgItemText(ids::kSlaveAddr, QString::number(m_bySlaveAddr));
  m_comm.SetSettings(commands::kFactoryPortSettings);
  SetTimer(kPollTimer, m_nPollInterval);
}
