#include "ui/monitor_dlg.h"

// Placeholder until this subsystem lands.
void CMonitorDlg::OnTimer(int id) { fw::CDialog::OnTimer(id); }
void CMonitorDlg::OnRunStop() {}
void CMonitorDlg::RunPollCycle() {}
