#include "ui/monitor_dlg.h"

// Placeholder until this subsystem lands.
bool CMonitorDlg::WriteSingleRegister(uint16_t, uint16_t, uint32_t, qm::ReplyMode) { return false; }
qm::ExchangeResult CMonitorDlg::WriteRegister(uint16_t, uint16_t, uint32_t, qm::ReplyMode) { return {}; }
