// The main window itself: message map, data exchange, initialisation and closing.
#include "ui/monitor_dlg.h"

#include "link/transport.h"
#include "ui/monitor_ids.h"
#include "ui/status_text.h"
#include "ui/templates.h"

namespace {

namespace ids = qm::ui::monitor_ids;

}  // namespace

CMonitorDlg::CMonitorDlg(qm::link::Transport& device, qm::link::Clock& clock, QWidget* parent)
    : fw::CDialog(qm::ui::MainWindowTemplate(), parent), m_comm(&device), m_clock(clock) {
  using fw::Notify;
  // Painting, the drag icon and control colours are the framework's own; the timer reaches the
  // virtual OnTimer.
  OnCommand(ids::kCommSet, Notify::Clicked, &CMonitorDlg::OnCommSet);
  OnCommand(ids::kMeterSet, Notify::Clicked, &CMonitorDlg::OnMeterSet);
  OnCommand(ids::kChangeSlaveAddr, Notify::Clicked, &CMonitorDlg::OnChangeSlaveAddr);
  OnCommand(ids::kAccuracy, Notify::Clicked, &CMonitorDlg::OnChangePrecision);
  OnCommand(ids::kPollAddress, Notify::Clicked, &CMonitorDlg::OnPollAddress);
  OnCommand(ids::kRunStop, Notify::Clicked, &CMonitorDlg::OnRunStop);
  OnCommand(ids::kWriteAnalog, Notify::Clicked, &CMonitorDlg::OnWriteAnalog);
  OnCommand(ids::kFactoryInit, Notify::Clicked, &CMonitorDlg::OnFactoryInit);
  OnCommand(ids::kPowerReverse, Notify::Clicked, &CMonitorDlg::OnPowerReverse);
  OnCommand(ids::kInputMode, Notify::Clicked, &CMonitorDlg::OnInputMode);
  OnCommand(ids::kAnalogSel, Notify::SelChange, &CMonitorDlg::OnSelchangeAnalogSel);
  OnCommand(ids::kAnalogSel, Notify::DropDown, &CMonitorDlg::OnDropdownAnalogSel);
  OnCommand(ids::kEnergyReset, Notify::Clicked, &CMonitorDlg::OnEnergyReset);
}

CMonitorDlg::~CMonitorDlg() = default;

void CMonitorDlg::SetLinkSettings(const qm::link::LinkSettings& link) {
  m_nParity = link.parity;
  m_nBaud = link.baud;
  m_nPort = link.port;
}

void CMonitorDlg::DoDataExchange(fw::CDataExchange* pDX) {
  fw::CDialog::DoDataExchange(pDX);
  fw::DDX_Control(pDX, ids::kUnit, m_cbUnit);
  fw::DDX_Control(pDX, ids::kLeftValue, m_edLeft);
  fw::DDX_Control(pDX, ids::kRightValue, m_edRight);
  fw::DDX_Control(pDX, ids::kAnalogSel, m_cbAnalogSel);
  fw::DDX_Control(pDX, ids::kRunStop, m_btnRun);
  // ids::kComm: the serial port control has no window; m_comm was given its device at construction.
  fw::DDX_Text(pDX, ids::kSlaveAddr, m_bySlaveAddr);
  fw::DDV_MinMaxByte(pDX, m_bySlaveAddr, 0, 255);
  fw::DDX_Text(pDX, ids::kVoltLow, m_dVoltLow);
  fw::DDX_Text(pDX, ids::kCurrHigh, m_dCurrHigh);
  fw::DDX_Text(pDX, ids::kCurrLow, m_dCurrLow);
  fw::DDX_Text(pDX, ids::kVoltHigh, m_dVoltHigh);
  fw::DDX_CBString(pDX, ids::kAnalogSel, m_strAnalogSel);
  fw::DDX_Text(pDX, ids::kRightValue, m_strRight);
  fw::DDX_Text(pDX, ids::kLeftValue, m_strLeft);
  fw::DDX_CBString(pDX, ids::kUnit, m_strUnit);
}

bool CMonitorDlg::OnInitDialog() {
  fw::CDialog::OnInitDialog();

  m_nPT = 1;
  m_nCT = 1;
  m_byWiring = 0;
  m_nGoodSettings = 0;
  m_nNextProbeAddr = 1;
  m_byInputMode = 0;
  m_bRun = false;
  m_bIdentified = 0;

  SetTimingFromBaud();

  try {
    m_comm.SetCommPort(static_cast<int16_t>(m_nPort));
    m_comm.SetSettings(qm::link::SettingsString(m_nBaud, m_nParity));
    m_comm.SetPortOpen(true);
    m_comm.SetInputLen(0);
    m_comm.SetInBufferCount(0);
  } catch (const qm::link::CommError& e) {
    // The window opens all the same, with the port closed, until the port settings command opens
    // it again; the error's text names the device and the reason.
    fw::AfxMessageBox(QString::fromStdString(e.what()));
    return true;
  }

  SetStatusText(QString::fromStdString(qm::ui::OpenedStatusText(GetLinkSettings())));

  m_cbAnalogSel.SetCurSel(0);
  m_cbUnit.SetCurSel(0);
  m_cbUnit.EnableWindow(false);
  return true;
}

void CMonitorDlg::OnDestroy() {
  KillTimer(kPollTimer);
  try {
    m_comm.SetPortOpen(false);
  } catch (const qm::link::CommError&) {
    // The window is going away; a port that fails to close is closed by the system with it.
  }
}

void CMonitorDlg::SetStatusText(const QString& text) { SetDlgItemText(ids::kStatus, text); }
