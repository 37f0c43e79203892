#include "framework/app.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

namespace qm::framework {

namespace {

CWinApp* g_app = nullptr;
QString g_appName = QStringLiteral("qm7410-monitor");
QColor g_background;  // invalid until SetDialogBkColor: the style's own colours
QColor g_text;

}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

int CWinApp::Run(int argc, char** argv) {
  QApplication app(argc, argv);
  // The program's loops are the dialogs' own; the moment between the port settings dialog and the
  // main window has no window open, and that must not end the application.
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc > 0 && argv[0] != nullptr) {
    const QString name = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
    if (!name.isEmpty()) SetAfxAppName(name);
  }
  QApplication::setApplicationName(AfxAppName());
  InstallQtTranslation();
  InitInstance();
  m_pMainWnd = nullptr;
  return 0;
}

void CWinApp::SetDialogBkColor(QColor background, QColor text) {
  g_background = background;
  g_text = text;
}

QTranslator* InstallQtTranslation() {
  // Every text of the program is Chinese; Qt's standard buttons follow its own translation files
  // (Debian: qt6-translations-l10n), whatever the desktop's locale.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

CWinApp* AfxGetApp() { return g_app; }

QString AfxAppName() { return g_appName; }

void SetAfxAppName(const QString& name) { g_appName = name; }

QColor DialogBackground() { return g_background; }

QColor DialogText() { return g_text; }

}  // namespace qm::framework
