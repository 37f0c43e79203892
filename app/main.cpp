#include "app/monitor_app.h"

// The one application object.
CMonitorApp theApp;

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
