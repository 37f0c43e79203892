// Energy reset, power reversal, accuracy class toggle and factory initialisation: fixed sequences of
// single-register writes without a dialog.
#include "commands/meter_writes.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::OnEnergyReset() {
  KillTimer(kPollTimer);
  for (const qm::RegisterWrite& w : qm::kEnergyResetWrites)
    WriteSingleRegister(w.reg, w.value, qm::kEnergyResetWaitMs, w.mode);
  SetTimer(kPollTimer, m_nPollInterval);
}

void CMonitorDlg::OnPowerReverse() {
  KillTimer(kPollTimer);
  // The flag itself follows the meter at the poll's next settings read.
  const uint16_t value = qm::ReversedPowerDirection(m_nPowerDir);
  if (WriteSingleRegister(qm::kRegPowerDirection, value, m_nShortWait, qm::ReplyMode::Check))
    fw::AfxMessageBox(QStringLiteral("功率反相成功"));
  else
    fw::AfxMessageBox(QStringLiteral("功率反相不成功"));
  m_comm.GetInput();  // whatever came late is not left for the next exchange's reading
  SetTimer(kPollTimer, m_nPollInterval);
}

void CMonitorDlg::OnChangePrecision() {
  KillTimer(kPollTimer);
  m_byAccuracy = qm::ToggledAccuracy(m_byAccuracy);
  if (!WriteSingleRegister(qm::kRegAccuracy, m_byAccuracy, m_nShortWait, qm::ReplyMode::Check))
    m_byAccuracy = qm::ToggledAccuracy(m_byAccuracy);
  SetDlgItemText(1009, QString::fromStdString(qm::AccuracyCaption(m_byAccuracy)));
  SetTimer(kPollTimer, m_nPollInterval);
}

void CMonitorDlg::OnFactoryInit() {
  KillTimer(kPollTimer);
  // One wait for the whole sequence: the timing set in force when the command starts.
  const uint32_t wait = m_nShortWait;
  for (const qm::RegisterWrite& w : qm::kFactoryInitWrites) WriteRegister(w.reg, w.value, wait, w.mode);

  // The last write above moved the meter to address 1; so does the window, whatever comes back.
  m_bySlaveAddr = qm::kFactorySlaveAddress;
  const qm::RegisterWrite& baud = qm::kFactoryBaudWrite;
  const qm::ExchangeResult result = WriteRegister(baud.reg, baud.value, wait, baud.mode);

  if (result.received > 0) {
    fw::AfxMessageBox(QStringLiteral("仪表初始设置成功!"));
    // The records follow the port as it now runs: the same port, 9600 baud, no parity.
    m_nBaud = qm::kFactoryBaud;
    m_nPort = m_comm.GetCommPort();
    m_nParity = 0;
    SetStatusText(QString::fromStdString(qm::FactoryStatusText(m_nPort, m_nBaud)));
  } else {
    fw::AfxMessageBox(QStringLiteral("仪表初始设置不成功!"));
  }
  // Box 1061 shows the new address in both outcomes: every later data exchange reads the address
  // back from it, and an old one left there would send polling to a slave that no longer exists.
  SetDlgItemText(1061, QString::number(m_bySlaveAddr));
  m_comm.SetSettings(qm::kFactoryPortSettings);
  SetTimer(kPollTimer, m_nPollInterval);
}
