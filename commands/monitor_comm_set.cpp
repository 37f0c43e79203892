#include "ui/monitor_dlg.h"

// Placeholder until this subsystem lands.
void CMonitorDlg::OnCommSet() {}
