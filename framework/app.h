#pragma once
#include <QColor>
#include <QString>

#include "framework/fw.h"

class QTranslator;
class QWidget;

namespace qm::framework {

// The application object: runs InitInstance and ends when it returns.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  virtual bool InitInstance() = 0;
  // Creates the Qt application, takes the application name from argv[0] and runs InitInstance.
  int Run(int argc, char** argv);

  // Dialog colours for every dialog shown from now on.
  void SetDialogBkColor(QColor background, QColor text);

  QWidget* m_pMainWnd = nullptr;
};

// Installs Qt's own Chinese translation of its standard buttons and dialogs on the running
// application, so a message box's button reads 确定 as on a Chinese desktop. Returns the translator
// (owned by the application), or nullptr when Qt's translations are not installed: the buttons then
// stay in English.
QTranslator* InstallQtTranslation();

CWinApp* AfxGetApp();
// The executable's name without directory or extension: the caption of every message box.
QString AfxAppName();
void SetAfxAppName(const QString& name);
// Colours set by SetDialogBkColor; applied by CDialog when it builds its window.
QColor DialogBackground();
QColor DialogText();

}  // namespace qm::framework
