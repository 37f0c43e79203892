#include "commands/comm_set_dlg.h"

#include "link/link_settings.h"
#include "ui/templates.h"

namespace {

constexpr int kFirstBaud = 1009;
constexpr int kLastBaud = 1013;
constexpr int kFirstParity = 1014;
constexpr int kLastParity = 1016;
constexpr int32_t kBauds[] = {1200, 2400, 4800, 9600, 19200};

}  // namespace

CCommSetDlg::CCommSetDlg(QWidget* parent) : fw::CDialog(CommSetTemplate(), parent) {
  using fw::Notify;
  OnCommand(1009, Notify::Clicked, &CCommSetDlg::On1200);
  OnCommand(1010, Notify::Clicked, &CCommSetDlg::On2400);
  OnCommand(1011, Notify::Clicked, &CCommSetDlg::On4800);
  OnCommand(1012, Notify::Clicked, &CCommSetDlg::On9600);
  OnCommand(1013, Notify::Clicked, &CCommSetDlg::On19200);
  OnCommand(1014, Notify::Clicked, &CCommSetDlg::OnParityNone);
  OnCommand(1015, Notify::Clicked, &CCommSetDlg::OnParityOdd);
  OnCommand(1016, Notify::Clicked, &CCommSetDlg::OnParityEven);
}

CCommSetDlg::~CCommSetDlg() = default;

void CCommSetDlg::DoDataExchange(fw::CDataExchange* pDX) {
  fw::CDialog::DoDataExchange(pDX);
  fw::DDX_Text(pDX, 1000, m_nPort);
  // Outside this range the number would be cut when handed to the port control, opening another
  // port than the status text names, or naming no device at all.
  fw::DDV_MinMaxInt(pDX, m_nPort, qm::kPortMin, qm::kPortMax);
}

bool CCommSetDlg::OnInitDialog() {
  fw::CDialog::OnInitDialog();
  // A rate or parity outside the lists leaves its group with nothing checked.
  const int baudCode = qm::BaudCode(m_nBaud);
  CheckRadioButton(kFirstBaud, kLastBaud, baudCode >= 0 ? kFirstBaud + baudCode : 0);
  const bool parityKnown = m_nParity >= 0 && m_nParity <= 2;
  CheckRadioButton(kFirstParity, kLastParity, parityKnown ? kFirstParity + m_nParity : 0);
  return true;
}

void CCommSetDlg::OnOK() {
  if (!UpdateData(true)) return;  // the framework has said what is wrong; the dialog stays open
  EndDialog(fw::IDOK);
}

void CCommSetDlg::SelectBaud(int id) {
  CheckRadioButton(kFirstBaud, kLastBaud, id);
  m_nBaud = kBauds[id - kFirstBaud];
}

void CCommSetDlg::SelectParity(int id) {
  CheckRadioButton(kFirstParity, kLastParity, id);
  m_nParity = id - kFirstParity;
}
