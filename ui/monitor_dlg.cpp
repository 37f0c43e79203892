#include "ui/monitor_dlg.h"

#include "ui/templates.h"

// Placeholder until the window lands.
CMonitorDlg::CMonitorDlg(qm::SerialDevice& device, qm::Clock& clock, QWidget* parent)
    : fw::CDialog(MainWindowTemplate(), parent), m_comm(&device), m_clock(clock) {}
CMonitorDlg::~CMonitorDlg() = default;
bool CMonitorDlg::OnInitDialog() { return fw::CDialog::OnInitDialog(); }
void CMonitorDlg::DoDataExchange(fw::CDataExchange*) {}
void CMonitorDlg::OnDestroy() {}
void CMonitorDlg::SetStatusText(const QString&) {}
