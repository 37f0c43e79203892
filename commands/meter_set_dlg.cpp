#include "commands/meter_set_dlg.h"

#include "meter/codes.h"
#include "ui/meter_set_ids.h"
#include "ui/templates.h"

namespace {

namespace ids = qm::ui::meter_set_ids;
static_assert(ids::kLastWiring - ids::kFirstWiring + 1 == qm::meter::kWiringCodeCount);

}  // namespace

CMeterSetDlg::CMeterSetDlg(QWidget* parent) : fw::CDialog(qm::ui::MeterSetTemplate(), parent) {
  OnCommand(ids::kFirstWiring + 0, fw::Notify::Clicked, &CMeterSetDlg::OnWiring0);
  OnCommand(ids::kFirstWiring + 1, fw::Notify::Clicked, &CMeterSetDlg::OnWiring1);
  OnCommand(ids::kFirstWiring + 2, fw::Notify::Clicked, &CMeterSetDlg::OnWiring2);
  OnCommand(ids::kFirstWiring + 3, fw::Notify::Clicked, &CMeterSetDlg::OnWiring3);
  OnCommand(ids::kFirstWiring + 4, fw::Notify::Clicked, &CMeterSetDlg::OnWiring4);
  OnCommand(ids::kFirstWiring + 5, fw::Notify::Clicked, &CMeterSetDlg::OnWiring5);
}

CMeterSetDlg::~CMeterSetDlg() = default;

void CMeterSetDlg::DoDataExchange(fw::CDataExchange* pDX) {
  fw::CDialog::DoDataExchange(pDX);
  fw::DDX_Text(pDX, ids::kPtRatio, m_nPT);
  fw::DDV_MinMaxUInt(pDX, m_nPT, qm::meter::kRatioMin, qm::meter::kRatioMax);
  fw::DDX_Text(pDX, ids::kCtRatio, m_nCT);
  fw::DDV_MinMaxUInt(pDX, m_nCT, qm::meter::kRatioMin, qm::meter::kRatioMax);
}

bool CMeterSetDlg::OnInitDialog() {
  fw::CDialog::OnInitDialog();
  // A wiring code the dialog does not know (above 5) names no button: all six stay unchecked, and
  // unless the user picks one the same code goes back to the meter.
  CheckRadioButton(ids::kFirstWiring, ids::kLastWiring, ids::kFirstWiring + m_byWiring);
  return true;
}

void CMeterSetDlg::OnOK() {
  if (!UpdateData(true)) return;  // the framework showed why; the dialog stays open
  EndDialog(fw::IDOK);
}

void CMeterSetDlg::OnWiring(int code) {
  CheckRadioButton(ids::kFirstWiring, ids::kLastWiring, ids::kFirstWiring + code);
  m_byWiring = static_cast<uint8_t>(code);
}
