#include "commands/comm_set_dlg.h"

#include "meter/codes.h"
#include "ui/templates.h"

namespace {

namespace ids = qm::ui::comm_set_ids;

// The baud buttons follow the meter's baud codes, the parity buttons the parity choices.
constexpr int kFirstBaud = ids::kBaud1200;
constexpr int kLastBaud = ids::kBaud19200;
constexpr int kFirstParity = ids::kParityNone;
constexpr int kLastParity = ids::kParityEven;
static_assert(kLastBaud - kFirstBaud + 1 == static_cast<int>(qm::meter::kBaudRates.size()));

}  // namespace

CCommSetDlg::CCommSetDlg(QWidget* parent) : fw::CDialog(qm::ui::CommSetTemplate(), parent) {
  using fw::Notify;
  OnCommand(ids::kBaud1200, Notify::Clicked, &CCommSetDlg::On1200);
  OnCommand(ids::kBaud2400, Notify::Clicked, &CCommSetDlg::On2400);
  OnCommand(ids::kBaud4800, Notify::Clicked, &CCommSetDlg::On4800);
  OnCommand(ids::kBaud9600, Notify::Clicked, &CCommSetDlg::On9600);
  OnCommand(ids::kBaud19200, Notify::Clicked, &CCommSetDlg::On19200);
  OnCommand(ids::kParityNone, Notify::Clicked, &CCommSetDlg::OnParityNone);
  OnCommand(ids::kParityOdd, Notify::Clicked, &CCommSetDlg::OnParityOdd);
  OnCommand(ids::kParityEven, Notify::Clicked, &CCommSetDlg::OnParityEven);
}

CCommSetDlg::~CCommSetDlg() = default;

void CCommSetDlg::SetLinkSettings(const qm::link::LinkSettings& link) {
  m_nParity = link.parity;
  m_nBaud = link.baud;
  m_nPort = link.port;
}

void CCommSetDlg::DoDataExchange(fw::CDataExchange* pDX) {
  fw::CDialog::DoDataExchange(pDX);
  fw::DDX_Text(pDX, ids::kPort, m_nPort);
  // Outside this range the number would be cut when handed to the port control, opening another
  // port than the status text names, or naming no device at all.
  fw::DDV_MinMaxInt(pDX, m_nPort, qm::link::kPortMin, qm::link::kPortMax);
}

bool CCommSetDlg::OnInitDialog() {
  fw::CDialog::OnInitDialog();
  // A rate or parity outside the lists leaves its group with nothing checked.
  const int baudCode = qm::meter::BaudCode(m_nBaud);
  CheckRadioButton(kFirstBaud, kLastBaud, baudCode >= 0 ? kFirstBaud + baudCode : 0);
  const int parity = static_cast<int>(m_nParity);
  const bool parityKnown = parity >= 0 && parity <= 2;
  CheckRadioButton(kFirstParity, kLastParity, parityKnown ? kFirstParity + parity : 0);
  return true;
}

void CCommSetDlg::OnOK() {
  if (!UpdateData(true)) return;  // the framework has said what is wrong; the dialog stays open
  EndDialog(fw::IDOK);
}

void CCommSetDlg::SelectBaud(int id) {
  CheckRadioButton(kFirstBaud, kLastBaud, id);
  m_nBaud = qm::meter::kBaudRates[static_cast<size_t>(id - kFirstBaud)];
}

void CCommSetDlg::SelectParity(int id) {
  CheckRadioButton(kFirstParity, kLastParity, id);
  m_nParity = static_cast<qm::link::Parity>(id - kFirstParity);
}
