#include "link/posix_serial_device.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "link/port_errors.h"

namespace qm::link {
namespace {

// The command line and the service speak English.
constexpr Wording kWording = Wording::English;
// A write the line does not take within this long means the adapter is stuck.
constexpr int kWriteLimitMs = 2000;

OpenFault FaultOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
      return OpenFault::Missing;
    case EACCES:
    case EPERM:
      return OpenFault::NoPermission;
    case EBUSY:
    case EWOULDBLOCK:
      return OpenFault::Busy;
    default:
      return OpenFault::Other;
  }
}

bool IsPseudoTerminal(int fd) {
  char path[64];
  return ::ttyname_r(fd, path, sizeof path) == 0 && std::strncmp(path, "/dev/pts/", 9) == 0;
}

std::string GroupOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  const struct group* g = ::getgrgid(st.st_gid);
  return g ? g->gr_name : "";
}

}  // namespace

namespace {
constexpr std::pair<int32_t, speed_t> kSpeeds[] = {
    {300, B300},   {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
}  // namespace

std::optional<speed_t> TermiosSpeed(int32_t baud) {
  for (const auto& [rate, code] : kSpeeds)
    if (rate == baud) return code;
  return std::nullopt;
}

int32_t BaudOfTermiosSpeed(speed_t speed) {
  for (const auto& [rate, code] : kSpeeds)
    if (code == speed) return rate;
  return 0;
}

void PosixSerialDevice::Open(const std::string& path, const LineSettings& settings) {
  Close();
  path_ = path;
  const auto refuse = [&path](OpenFault fault, int error) {
    throw CommError(OpenFailureText(path, fault, fault == OpenFault::NoPermission ? GroupOf(path) : "",
                                    std::strerror(error), kWording));
  };
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) refuse(FaultOf(errno), errno);
  if (!::isatty(fd)) {
    ::close(fd);
    refuse(OpenFault::NotSerial, ENOTTY);
  }
  // One master per line: another program that locks the device (or the window, whose exclusive mode
  // refuses this open for ordinary users) keeps this one out, and this one keeps them out.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    refuse(OpenFault::Busy, error);
  }
  ::ioctl(fd, TIOCEXCL);
  if (::tcgetattr(fd, &original_) != 0) {
    const int error = errno;
    ::close(fd);
    refuse(OpenFault::NotSerial, error);
  }
  fd_ = fd;
  try {
    Configure(settings);
  } catch (...) {
    Close();
    throw;
  }
  ::tcflush(fd_, TCIOFLUSH);
}

void PosixSerialDevice::Close() {
  buffer_.clear();
  if (fd_ < 0) return;
  ::tcsetattr(fd_, TCSANOW, &original_);  // as another program may expect to find it
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void PosixSerialDevice::Apply(const LineSettings& settings) {
  if (fd_ >= 0) Configure(settings);
}

void PosixSerialDevice::Configure(const LineSettings& s) {
  speed_t speed = B0;
  if (const auto code = TermiosSpeed(s.baud))
    speed = *code;
  else
    throw CommError(SetupFailureText(path_, std::strerror(EINVAL), kWording));
  termios t = original_;
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  if (s.parity != Parity::None) t.c_cflag |= PARENB | (s.parity == Parity::Odd ? PARODD : 0);
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  // With O_NONBLOCK, VMIN 1 makes an empty read fail with EAGAIN, so a read of 0 bytes means hang-up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (::tcsetattr(fd_, TCSANOW, &t) == 0) return;
  if (errno == EINVAL && s.parity != Parity::None && IsPseudoTerminal(fd_)) {
    // Linux keeps no parity on a pseudo-terminal (a simulated meter's line): no parity bit crosses
    // such a line, so the setting is dropped rather than refused, as the window's port does.
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
    if (::tcsetattr(fd_, TCSANOW, &t) == 0) return;
  }
  throw CommError(SetupFailureText(path_, std::strerror(errno), kWording));
}

void PosixSerialDevice::Lose(const std::string& reason) {
  const std::string path = path_;
  Close();
  throw CommError(LostText(path, reason, kWording));
}

// Takes what the port has received, up to the buffer's size.
void PosixSerialDevice::Fill() {
  if (fd_ < 0) return;
  uint8_t chunk[512];
  while (buffer_.size() < kReadBufferBytes) {
    const ssize_t n = ::read(fd_, chunk, std::min(sizeof chunk, kReadBufferBytes - buffer_.size()));
    if (n > 0) {
      buffer_.insert(buffer_.end(), chunk, chunk + n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      return;
    } else {
      Lose(n == 0 || errno == EIO ? HangUpReason(kWording) : std::strerror(errno));
    }
  }
}

void PosixSerialDevice::Write(const std::vector<uint8_t>& bytes) {
  if (fd_ < 0) return;
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) Lose(errno == EIO ? HangUpReason(kWording) : std::strerror(errno));
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, kWriteLimitMs) == 0) Lose(std::strerror(ETIMEDOUT));
  }
}

int PosixSerialDevice::BytesWaiting() {
  Fill();
  return static_cast<int>(buffer_.size());
}

std::vector<uint8_t> PosixSerialDevice::ReadAll() {
  Fill();
  std::vector<uint8_t> out;
  out.swap(buffer_);
  return out;
}

void PosixSerialDevice::DiscardInput() {
  Fill();  // a port that went away is told here rather than missed
  buffer_.clear();
  if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

void PosixSerialDevice::WaitForInput(uint32_t ms) {
  if (fd_ < 0 || !buffer_.empty()) return;
  pollfd p{fd_, POLLIN, 0};
  // Interrupted by a signal (Ctrl-C during a log): return early; the caller looks at its clock.
  if (::poll(&p, 1, static_cast<int>(std::min<uint32_t>(ms, INT32_MAX))) == 1 && !(p.revents & POLLIN) &&
      (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
    Lose(HangUpReason(kWording));
}

}  // namespace qm::link
