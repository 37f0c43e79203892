// "仪表设置": PT ratio, CT ratio and wiring mode, written one register at a time.
#include "commands/meter_set_dlg.h"
#include "commands/meter_writes.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::OnMeterSet() {
  namespace commands = qm::commands;
  using qm::link::ReplyMode;
  CMeterSetDlg dlg(this);
  dlg.m_nPT = m_nPT;
  dlg.m_nCT = m_nCT;
  dlg.m_byWiring = m_byWiring;

  KillTimer(kPollTimer);
  if (dlg.DoModal() == fw::IDOK) {
    // Each write is judged by itself; all three go out whatever the earlier ones gave. The window's
    // own ratios and wiring code follow the meter at the poll's next settings read.
    if (!WriteSingleRegister(commands::kRegPtRatio, static_cast<uint16_t>(dlg.m_nPT), m_nShortWait,
                             ReplyMode::Check))
      fw::AfxMessageBox(QStringLiteral("设置PT不成功"));
    if (!WriteSingleRegister(commands::kRegCtRatio, static_cast<uint16_t>(dlg.m_nCT), m_nShortWait,
                             ReplyMode::Check))
      fw::AfxMessageBox(QStringLiteral("设置CT不成功"));
    if (!WriteSingleRegister(commands::kRegWiring, dlg.m_byWiring, m_nShortWait, ReplyMode::Check))
      fw::AfxMessageBox(QStringLiteral("设置接线方式不成功"));
  }
  SetTimer(kPollTimer, m_nPollInterval);
}
