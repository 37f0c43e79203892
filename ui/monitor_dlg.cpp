// The main window itself: message map, data exchange, initialisation and closing.
#include "ui/monitor_dlg.h"

#include "link/link_settings.h"
#include "link/serial_device.h"
#include "ui/templates.h"

namespace {

constexpr int kStatusEdit = 1057;

}  // namespace

CMonitorDlg::CMonitorDlg(qm::SerialDevice& device, qm::Clock& clock, QWidget* parent)
    : fw::CDialog(MainWindowTemplate(), parent), m_comm(&device), m_clock(clock) {
  using fw::Notify;
  // Painting, the drag icon and control colours are the framework's own; the timer reaches the
  // virtual OnTimer.
  OnCommand(1004, Notify::Clicked, &CMonitorDlg::OnCommSet);
  OnCommand(1006, Notify::Clicked, &CMonitorDlg::OnMeterSet);
  OnCommand(1007, Notify::Clicked, &CMonitorDlg::OnChangeSlaveAddr);
  OnCommand(1009, Notify::Clicked, &CMonitorDlg::OnChangePrecision);
  OnCommand(1062, Notify::Clicked, &CMonitorDlg::OnPollAddress);
  OnCommand(1063, Notify::Clicked, &CMonitorDlg::OnRunStop);
  OnCommand(1059, Notify::Clicked, &CMonitorDlg::OnWriteAnalog);
  OnCommand(1092, Notify::Clicked, &CMonitorDlg::OnFactoryInit);
  OnCommand(1010, Notify::Clicked, &CMonitorDlg::OnPowerReverse);
  OnCommand(1060, Notify::Clicked, &CMonitorDlg::OnInputMode);
  OnCommand(1088, Notify::SelChange, &CMonitorDlg::OnSelchangeAnalogSel);
  OnCommand(1088, Notify::DropDown, &CMonitorDlg::OnDropdownAnalogSel);
  OnCommand(1071, Notify::Clicked, &CMonitorDlg::OnEnergyReset);
}

CMonitorDlg::~CMonitorDlg() = default;

void CMonitorDlg::DoDataExchange(fw::CDataExchange* pDX) {
  fw::CDialog::DoDataExchange(pDX);
  fw::DDX_Control(pDX, 1113, m_cbUnit);
  fw::DDX_Control(pDX, 1022, m_edLeft);
  fw::DDX_Control(pDX, 1023, m_edRight);
  fw::DDX_Control(pDX, 1088, m_cbAnalogSel);
  fw::DDX_Control(pDX, 1063, m_btnRun);
  // 1008: the serial port control has no window; m_comm was given its device at construction.
  fw::DDX_Text(pDX, 1061, m_bySlaveAddr);
  fw::DDV_MinMaxByte(pDX, m_bySlaveAddr, 0, 255);
  fw::DDX_Text(pDX, 1067, m_dVoltLow);
  fw::DDX_Text(pDX, 1068, m_dCurrHigh);
  fw::DDX_Text(pDX, 1069, m_dCurrLow);
  fw::DDX_Text(pDX, 1066, m_dVoltHigh);
  fw::DDX_CBString(pDX, 1088, m_strAnalogSel);
  fw::DDX_Text(pDX, 1023, m_strRight);
  fw::DDX_Text(pDX, 1022, m_strLeft);
  fw::DDX_CBString(pDX, 1113, m_strUnit);
}

bool CMonitorDlg::OnInitDialog() {
  fw::CDialog::OnInitDialog();

  m_nPT = 1;
  m_nCT = 1;
  m_byWiring = 0;
  m_nGoodSettings = 0;
  m_nNextProbeAddr = 1;
  m_byInputMode = 0;
  m_bRun = 0;
  m_bIdentified = 0;

  SetTimingFromBaud();

  try {
    m_comm.SetCommPort(static_cast<int16_t>(m_nPort));
    m_comm.SetSettings(qm::SettingsString(m_nBaud, m_nParity));
    m_comm.SetPortOpen(true);
    m_comm.SetInputLen(0);
    m_comm.SetInBufferCount(0);
  } catch (const qm::CommError& e) {
    // The window opens all the same, with the port closed, until the port settings command opens
    // it again; the error's text names the device and the reason.
    fw::AfxMessageBox(QString::fromStdString(e.what()));
    return true;
  }

  SetStatusText(QString::fromStdString(
      qm::StatusText("串行口: %d \r\n\r\n波特率:%d \r\n\r\n", m_nPort, m_nBaud, m_nParity)));

  m_cbAnalogSel.SetCurSel(0);
  m_cbUnit.SetCurSel(0);
  m_cbUnit.EnableWindow(false);
  return true;
}

void CMonitorDlg::OnDestroy() {
  KillTimer(kPollTimer);
  try {
    m_comm.SetPortOpen(false);
  } catch (const qm::CommError&) {
    // The window is going away; a port that fails to close is closed by the system with it.
  }
}

void CMonitorDlg::SetStatusText(const QString& text) { SetDlgItemText(kStatusEdit, text); }
