#include "link/qt_serial_device.h"

#include <QFileInfo>

namespace qm::link {
namespace {

// Linux keeps no parity on a pseudo-terminal (a simulated meter's line): it clears the flag, and
// QSerialPort, finding it gone, refuses even parity with EINVAL. No parity bit crosses such a line.
bool IsPseudoTerminal(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"));
}

QSerialPort::Parity ToQt(char parity) {
  switch (parity) {
    case 'O':
      return QSerialPort::OddParity;
    case 'E':
      return QSerialPort::EvenParity;
    default:
      return QSerialPort::NoParity;
  }
}

}  // namespace

void QtSerialDevice::Configure(const LineSettings& s) {
  bool parityOk = port_.setParity(ToQt(s.parity));
  if (!parityOk && IsPseudoTerminal(path_)) {
    port_.clearError();
    parityOk = true;
  }
  const bool ok = parityOk && port_.setBaudRate(s.baud) &&
                  port_.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
                  port_.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
                  port_.setFlowControl(QSerialPort::NoFlowControl);
  if (!ok) {
    const std::string reason = port_.errorString().toStdString();
    port_.clearError();
    throw CommError("串口 " + path_ + " 设置失败: " + reason);
  }
}

void QtSerialDevice::Open(const std::string& path, const LineSettings& settings) {
  path_ = path;
  port_.setPortName(QString::fromStdString(path));
  if (!port_.open(QIODevice::ReadWrite)) {
    const std::string reason = port_.errorString().toStdString();
    port_.clearError();
    throw CommError("无法打开串口 " + path + ": " + reason);
  }
  try {
    Configure(settings);
  } catch (...) {
    port_.close();
    throw;
  }
  port_.clear(QSerialPort::AllDirections);
}

void QtSerialDevice::Close() {
  if (port_.isOpen()) port_.close();
}

bool QtSerialDevice::IsOpen() const { return port_.isOpen(); }

void QtSerialDevice::Apply(const LineSettings& settings) {
  if (port_.isOpen()) Configure(settings);
}

// An adapter pulled out while open: close, and report it once through the call that noticed.
void QtSerialDevice::ThrowIfLost() {
  const auto error = port_.error();
  if (error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError ||
      error == QSerialPort::PermissionError) {
    const std::string reason = port_.errorString().toStdString();
    port_.clearError();
    port_.close();
    throw CommError("串口 " + path_ + " 已断开: " + reason);
  }
  port_.clearError();
}

// After a blocking wait Qt has not yet looked at the descriptor; collect what arrived.
void QtSerialDevice::Pump() {
  if (!port_.isOpen()) return;
  while (port_.waitForReadyRead(0)) {
  }
  ThrowIfLost();
}

void QtSerialDevice::Write(const std::vector<uint8_t>& bytes) {
  if (!port_.isOpen()) return;
  port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  port_.flush();  // without it nothing leaves while the UI thread waits
  ThrowIfLost();
}

int QtSerialDevice::BytesWaiting() {
  Pump();
  return port_.isOpen() ? static_cast<int>(port_.bytesAvailable()) : 0;
}

std::vector<uint8_t> QtSerialDevice::ReadAll() {
  Pump();
  if (!port_.isOpen()) return {};
  const QByteArray data = port_.readAll();
  return std::vector<uint8_t>(data.begin(), data.end());
}

void QtSerialDevice::DiscardInput() {
  Pump();
  if (!port_.isOpen()) return;
  port_.clear(QSerialPort::Input);
  port_.readAll();
}

}  // namespace qm::link
