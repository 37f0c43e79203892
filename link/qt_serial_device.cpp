#include "link/qt_serial_device.h"

#include <QFileInfo>
#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace qm::link {
namespace {

// Linux keeps no parity on a pseudo-terminal (a simulated meter's line): it clears the flag, and
// QSerialPort, finding it gone, refuses even parity with EINVAL. No parity bit crosses such a line.
bool IsPseudoTerminal(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"));
}

QSerialPort::Parity ToQt(Parity parity) {
  switch (parity) {
    case Parity::Odd:
      return QSerialPort::OddParity;
    case Parity::Even:
      return QSerialPort::EvenParity;
    default:
      return QSerialPort::NoParity;
  }
}

}  // namespace

OpenFault DiagnoseOpenFailure(const std::string& path, QSerialPort::SerialPortError error,
                              std::string& group) {
  group.clear();
#ifdef Q_OS_UNIX
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == EACCES) return OpenFault::NoPermission;
    return errno == ENOENT || errno == ENOTDIR ? OpenFault::Missing : OpenFault::Other;
  }
  if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
  if (!S_ISCHR(st.st_mode)) return OpenFault::NotSerial;
  if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) return OpenFault::NoPermission;
  // The user may open the device, so Qt's permission error is its word for a port another program
  // holds (its lock file, or the exclusive mode of the terminal).
  if (error == QSerialPort::PermissionError) return OpenFault::Busy;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY ? OpenFault::Busy : OpenFault::Other;
  const bool terminal = ::isatty(fd) != 0;
  ::close(fd);
  return terminal ? OpenFault::Other : OpenFault::NotSerial;
#else
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return OpenFault::Missing;
    case QSerialPort::PermissionError:
      return OpenFault::Busy;  // Windows: access denied means in use
    default:
      return OpenFault::Other;
  }
#endif
}

QtSerialDevice::QtSerialDevice() {
  // A far end that hangs up leaves the descriptor readable for good: Qt then reads end-of-file over
  // and over in the event loop. Close at once; the next call reports it.
  QObject::connect(&port_, &QSerialPort::errorOccurred, &port_, [this](QSerialPort::SerialPortError error) {
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
      QMetaObject::invokeMethod(
          &port_, [this] { CheckHangUp(); }, Qt::QueuedConnection);
  });
}

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
    throw CommError(SetupFailureText(path_, reason));
  }
}

void QtSerialDevice::Open(const std::string& path, const LineSettings& settings) {
  path_ = path;
  lost_.clear();
  port_.setPortName(QString::fromStdString(path));
  port_.setReadBufferSize(kReadBufferBytes);
  if (!port_.open(QIODevice::ReadWrite)) {
    const QSerialPort::SerialPortError error = port_.error();
    const std::string detail = port_.errorString().toStdString();
    port_.clearError();
    std::string group;
    const OpenFault fault = DiagnoseOpenFailure(path, error, group);
    throw CommError(OpenFailureText(path, fault, group, detail));
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
  lost_.clear();
  if (port_.isOpen()) port_.close();
}

bool QtSerialDevice::IsOpen() const { return port_.isOpen() || !lost_.empty(); }

void QtSerialDevice::Apply(const LineSettings& settings) {
  ThrowIfLost();
  if (port_.isOpen()) Configure(settings);
}

bool QtSerialDevice::HungUp() {
#ifdef Q_OS_UNIX
  pollfd p{static_cast<int>(port_.handle()), POLLIN, 0};
  return port_.isOpen() && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
  return false;
#endif
}

void QtSerialDevice::CheckHangUp() {
  if (!lost_.empty() || !HungUp()) return;
  lost_ = LostText(path_, HangUpReason());
  port_.clearError();
  port_.close();
}

// An adapter pulled out or a far end gone: close, and report it once through the call that noticed.
void QtSerialDevice::ThrowIfLost() {
  if (!lost_.empty()) {
    const std::string text = std::move(lost_);
    lost_.clear();
    throw CommError(text);
  }
  if (!port_.isOpen()) return;
  const auto error = port_.error();
  const bool hungUp = HungUp();
  if (hungUp || error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError ||
      error == QSerialPort::PermissionError) {
    const std::string reason = hungUp ? HangUpReason() : port_.errorString().toStdString();
    port_.clearError();
    port_.close();
    throw CommError(LostText(path_, reason));
  }
  port_.clearError();
}

// After a blocking wait Qt has not yet looked at the descriptor; collect what arrived, up to the
// read buffer's size (a far side that floods would otherwise keep this loop going).
void QtSerialDevice::Pump() {
  if (port_.isOpen()) {
    while (port_.bytesAvailable() < kReadBufferBytes && port_.waitForReadyRead(0)) {
    }
  }
  ThrowIfLost();
}

void QtSerialDevice::Write(const std::vector<uint8_t>& bytes) {
  ThrowIfLost();
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

void QtSerialDevice::WaitForInput(uint32_t ms) {
  if (!port_.isOpen()) return;
  port_.waitForReadyRead(static_cast<int>(ms));
  ThrowIfLost();  // a timeout only leaves TimeoutError behind, which this clears
}

void QtSerialDevice::DiscardInput() {
  Pump();
  if (!port_.isOpen()) return;
  port_.clear(QSerialPort::Input);
  port_.readAll();
}

}  // namespace qm::link
