#include "app/monitor_app.h"

#include <QApplication>
#include <QColor>

#include "app/app_icon.h"
#include "commands/comm_set_dlg.h"
#include "link/event_loop_clock.h"
#include "link/qt_serial_device.h"
#include "ui/monitor_dlg.h"

namespace {

const QColor kDialogBackground(181, 240, 249);
const QColor kDialogText(0, 0, 0);

}  // namespace

bool CMonitorApp::InitInstance() {
  // Every window shows the program's icon; a desktop session matches the window to its menu entry.
  QApplication::setWindowIcon(qm::AppIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("qm7410-monitor"));
  // ActiveX container support and 3D controls need nothing under Qt: the serial port control is a
  // plain object of the main window and every control is drawn in the platform's style.
  CCommSetDlg commSetDlg;
  SetDialogBkColor(kDialogBackground, kDialogText);
  commSetDlg.m_nBaud = 9600;
  commSetDlg.m_nParity = 0;
  commSetDlg.m_nPort = 1;
  if (commSetDlg.DoModal() != fw::IDOK) return false;

  qm::QtSerialDevice device;
  qm::EventLoopClock clock;
  CMonitorDlg dlg(device, clock);
  m_pMainWnd = &dlg;
  SetDialogBkColor(kDialogBackground, kDialogText);
  dlg.m_nBaud = commSetDlg.m_nBaud;
  dlg.m_nPort = commSetDlg.m_nPort;
  dlg.m_nParity = commSetDlg.m_nParity;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return false;
}
