// The slave address scan: one probe per tick of timer 2 until a meter answers.
#include "poll/address_scan.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::OnPollAddress() {
  KillTimer(kPollTimer);
  m_nNextProbeAddr = 1;
  SetTimer(kScanTimer, m_nPollInterval);
}

void CMonitorDlg::ScanStep() {
  m_nNextProbeAddr = qm::poll::ProbeAddressFor(m_nNextProbeAddr);
  ProbeAddress(m_nNextProbeAddr);
  ++m_nNextProbeAddr;
}

void CMonitorDlg::ProbeAddress(int32_t address) {
  constexpr int kEditSlaveAddr = 1061;
  UpdateData(true);  // the address shown in 1061 (the previous probe's) becomes the slave address
  const uint8_t a = static_cast<uint8_t>(address & 0xFF);
  // The exchange drops whatever waits on the line before it sends the probe.
  const qm::ExchangeResult r =
      Exchange(a, qm::kFnReadHolding, qm::poll::kProbeAddress, qm::poll::kProbeQuantity, m_nShortWait,
               qm::ReplyMode::Check);
  SetDlgItemText(kEditSlaveAddr, QString::number(address));
  if (r.index < 0) return;
  m_bySlaveAddr = a;
  KillTimer(kScanTimer);
  SetStatusText(QString::fromStdString(qm::poll::ScanHitStatusText(m_nPort, m_nBaud, m_nParity)));
}
