#include "commands/meter_set_dlg.h"

#include "commands/meter_writes.h"
#include "ui/templates.h"

CMeterSetDlg::CMeterSetDlg(QWidget* parent) : fw::CDialog(MeterSetTemplate(), parent) {
  OnCommand(1009, fw::Notify::Clicked, &CMeterSetDlg::OnWiring0);
  OnCommand(1010, fw::Notify::Clicked, &CMeterSetDlg::OnWiring1);
  OnCommand(1011, fw::Notify::Clicked, &CMeterSetDlg::OnWiring2);
  OnCommand(1012, fw::Notify::Clicked, &CMeterSetDlg::OnWiring3);
  OnCommand(1013, fw::Notify::Clicked, &CMeterSetDlg::OnWiring4);
  OnCommand(1014, fw::Notify::Clicked, &CMeterSetDlg::OnWiring5);
}

CMeterSetDlg::~CMeterSetDlg() = default;

void CMeterSetDlg::DoDataExchange(fw::CDataExchange* pDX) {
  fw::CDialog::DoDataExchange(pDX);
  fw::DDX_Text(pDX, kEditPT, m_nPT);
  fw::DDV_MinMaxUInt(pDX, m_nPT, qm::kRatioMin, qm::kRatioMax);
  fw::DDX_Text(pDX, kEditCT, m_nCT);
  fw::DDV_MinMaxUInt(pDX, m_nCT, qm::kRatioMin, qm::kRatioMax);
}

bool CMeterSetDlg::OnInitDialog() {
  fw::CDialog::OnInitDialog();
  // A wiring code the dialog does not know (above 5) names no button: all six stay unchecked, and
  // unless the user picks one the same code goes back to the meter.
  CheckRadioButton(kFirstWiringRadio, kLastWiringRadio, kFirstWiringRadio + m_byWiring);
  return true;
}

void CMeterSetDlg::OnOK() {
  if (!UpdateData(true)) return;  // the framework showed why; the dialog stays open
  EndDialog(fw::IDOK);
}

void CMeterSetDlg::OnWiring(int code) {
  CheckRadioButton(kFirstWiringRadio, kLastWiringRadio, kFirstWiringRadio + code);
  m_byWiring = static_cast<uint8_t>(code);
}
