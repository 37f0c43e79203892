// The slave address scan: one probe per tick of timer 2 until a meter answers.
#include "meter/registers.h"
#include "poll/address_scan.h"
#include "ui/monitor_dlg.h"
#include "ui/monitor_ids.h"
#include "ui/status_text.h"

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
  namespace ids = qm::ui::monitor_ids;
  UpdateData(
      true);  // the address shown in the slave address edit (the previous probe's) becomes the slave address
  const uint8_t a = static_cast<uint8_t>(address & 0xFF);
  // The exchange drops whatever waits on the line before it sends the probe. A gateway's word that
  // nothing answers at an address is what a scan expects: it is not told.
  const qm::link::ExchangeResult r =
      Exchange(a, qm::link::kFnReadHolding, qm::meter::kSettingsAddress, qm::poll::kProbeWords, m_nShortWait,
               qm::link::ReplyMode::Check, LinkTrouble::Quiet);
  SetDlgItemText(ids::kSlaveAddr, QString::number(address));
  if (!r.Ok()) return;
  m_bySlaveAddr = a;
  KillTimer(kScanTimer);
  SetStatusText(QString::fromStdString(qm::ui::ScanHitStatusText(GetLinkSettings())));
}
