#include "ui/monitor_dlg.h"

// Placeholder until this subsystem lands.
void CMonitorDlg::OnEnergyReset() {}
void CMonitorDlg::OnPowerReverse() {}
void CMonitorDlg::OnChangePrecision() {}
void CMonitorDlg::OnFactoryInit() {}
