#include "ui/monitor_dlg.h"

// Placeholder until this subsystem lands.
void CMonitorDlg::OnInputMode() {}
void CMonitorDlg::OnDropdownAnalogSel() {}
void CMonitorDlg::OnSelchangeAnalogSel() {}
void CMonitorDlg::OnWriteAnalog() {}
