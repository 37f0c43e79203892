#include "commands/slave_addr_dlg.h"

#include "ui/slave_addr_ids.h"
#include "ui/templates.h"

CSlaveAddrDlg::CSlaveAddrDlg(QWidget* parent) : fw::CDialog(qm::ui::SlaveAddrTemplate(), parent) {}

CSlaveAddrDlg::~CSlaveAddrDlg() = default;

void CSlaveAddrDlg::DoDataExchange(fw::CDataExchange* pDX) {
  fw::CDialog::DoDataExchange(pDX);
  fw::DDX_Text(pDX, qm::ui::slave_addr_ids::kAddress, m_byAddress);
  fw::DDV_MinMaxByte(pDX, m_byAddress, 0, 255);
}
