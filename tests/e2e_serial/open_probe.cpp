// Opens one serial port the way the program does and prints what the program would show, or
// "opened". The permission test runs it as an unprivileged user.
#include <QCoreApplication>
#include <cstdio>

#include "link/qt_serial_device.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fputs("usage: serial_open_probe PATH\n", stderr);
    return 2;
  }
  qm::link::QtSerialDevice device;
  try {
    device.Open(argv[1], {});
    std::puts("opened");
  } catch (const qm::link::CommError& e) {
    std::puts(e.what());
  }
  return 0;
}
