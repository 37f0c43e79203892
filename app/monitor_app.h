#pragma once
#include "framework/app.h"

// The application object: asks for the link settings, then runs the main window with them.
class CMonitorApp : public fw::CWinApp {
 public:
  bool InitInstance() override;
};
