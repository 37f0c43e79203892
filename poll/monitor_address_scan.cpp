#include "ui/monitor_dlg.h"

// Placeholder until this subsystem lands.
void CMonitorDlg::OnPollAddress() {}
void CMonitorDlg::ScanStep() {}
void CMonitorDlg::ProbeAddress(int32_t) {}
