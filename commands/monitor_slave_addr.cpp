// "更改子机地址": the new address is written through the old one and used from then on, answered or
// not (a meter that missed it is found again with the address scan).
#include "commands/meter_writes.h"
#include "commands/slave_addr_dlg.h"
#include "ui/monitor_dlg.h"
#include "ui/monitor_ids.h"

void CMonitorDlg::OnChangeSlaveAddr() {
  KillTimer(kPollTimer);

  CSlaveAddrDlg dlg(this);
  dlg.m_byAddress = m_bySlaveAddr;
  if (dlg.DoModal() == fw::IDOK) {
    WriteSingleRegister(qm::commands::kRegSlaveAddress, dlg.m_byAddress, m_nShortWait,
                        qm::link::ReplyMode::Drain);
    m_bySlaveAddr = dlg.m_byAddress;
    SetDlgItemText(qm::ui::monitor_ids::kSlaveAddr, QString::number(m_bySlaveAddr));
  }
  SetTimer(kPollTimer, m_nPollInterval);
}
