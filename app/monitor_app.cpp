#include "app/monitor_app.h"

#include <QApplication>
#include <QColor>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/app_icon.h"
#include "commands/comm_set_dlg.h"
#include "link/event_loop_wait.h"
#include "link/named_transport.h"
#include "link/qt_serial_device.h"
#include "link/trace.h"
#include "meter/register_names.h"
#include "ui/monitor_dlg.h"

namespace {

const QColor kDialogBackground(181, 240, 249);
const QColor kDialogText(0, 0, 0);

}  // namespace

bool CMonitorApp::InitInstance() {
  // Every window shows the program's icon; a desktop session matches the window to its menu entry.
  QApplication::setWindowIcon(qm::app::AppIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("qm7410-monitor"));
  // ActiveX container support and 3D controls need nothing under Qt: the serial port control is a
  // plain object of the main window and every control is drawn in the platform's style.
  CCommSetDlg commSetDlg;
  SetDialogBkColor(kDialogBackground, kDialogText);
  commSetDlg.SetLinkSettings(qm::link::LinkSettings{});  // the presets: port 1, 9600 baud, no parity
  if (commSetDlg.DoModal() != fw::IDOK) return false;

  // A port number may name a gateway instead of a serial device (QM7410_COM<n>=tcp://HOST:PORT).
  qm::link::QtSerialDevice serial;
  qm::link::NamedTransport device(serial, qm::link::Wording::Chinese);
  qm::link::EventLoopWait wait;
  CMonitorDlg dlg(device, wait);
  // $QM7410_TRACE=FILE: every frame in and out, in words, appended to FILE for a support request.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile(nullptr, std::fclose);
  std::unique_ptr<qm::link::Trace> trace;
  if (const char* path = std::getenv("QM7410_TRACE"); path && *path) {
    traceFile.reset(std::fopen(path, "a"));
    if (traceFile) {
      trace = std::make_unique<qm::link::Trace>(traceFile.get(), qm::meter::RegisterName);
      dlg.m_pTrace = trace.get();
    } else {
      std::fprintf(stderr, "qm7410-monitor: cannot write the trace to %s: %s\n", path, std::strerror(errno));
    }
  }
  m_pMainWnd = &dlg;
  SetDialogBkColor(kDialogBackground, kDialogText);
  dlg.SetLinkSettings(commSetDlg.GetLinkSettings());
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return false;
}
